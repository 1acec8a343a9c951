// The real program's board seen from outside, for the whole-program and installer tests: found
// by its process, read through its controls, and the rates a test service hands out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rates_snapshot.h"
#include "test_support.h"

using Texts = std::vector<std::string>;

// The board of a process (the dialog with the rate boxes; the launcher's message boxes have
// none), or null.
HWND FindRatesWindow(DWORD processId);
// The same, once it is on screen; null when it did not come within a minute.
HWND WaitForRatesWindow(DWORD processId);

std::string ControlText(HWND window, int id);
// The eighteen rate boxes' texts.
Texts RateTexts(HWND window);
// What the rate boxes show for these rates.
Texts Formatted(const RateTable& rates);
bool WaitForRates(HWND window, const RateTable& rates);

// Plausible rates, none of them what a fresh program shows.
RateTable ServiceRates();
// The 72 bytes of the rates command's reply.
std::vector<std::uint8_t> RatesBytes(const RateTable& rates);
