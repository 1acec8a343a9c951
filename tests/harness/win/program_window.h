// The real program's board seen from outside, for the whole-program and installer tests: found
// by its process, read through its controls, and the rates a test service hands out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rates/snapshot.h"
#include "test_support.h"

class FakeRatesService;

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

// The request the program makes for its rates: the signed record where the build has a rates
// key, the unsigned rates otherwise.
std::vector<std::uint8_t> ProgramRatesRequest();
// Scripts `service` to hand out `rates` as the program asks for them: signed as rates of `date`
// with the rates key that the program under test trusts (ServiceRatesTestKey: the build's, or the
// one a release check hands in), or unsigned.
void ServeProgramRates(FakeRatesService& service, const RateTable& rates, std::uint32_t date = 20261208);
// Whether this build's program can be served rates by the tests: a build that names only the
// public half of its rates key cannot.
bool CanServeProgramRates();
