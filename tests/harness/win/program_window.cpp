// clang-format off
#include <winsock2.h>  // before windows.h, which program_window.h brings; the fake service needs it
// clang-format on
#include "program_window.h"

#include "base/byte_order.h"
#include "fake_rates_service.h"
#include "net/protocol.h"
#include "rates/display_format.h"
#include "resource.h"
#include "signing/rates_key.h"
#include "test_signing.h"

namespace {

struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK CollectRatesWindow(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (owner == search.processId && std::string(className) == "#32770" && GetDlgItem(window, IDC_RATE_FIRST)) {
    search.found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND FindRatesWindow(DWORD processId) {
  WindowSearch search{processId, nullptr};
  EnumWindows(CollectRatesWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForRatesWindow(DWORD processId) {
  HWND window = nullptr;
  WaitUntil([&] {
    window = FindRatesWindow(processId);
    return window != nullptr && IsWindowVisible(window);
  });
  return window;
}

std::string ControlText(HWND window, int id) {
  char text[128] = {};
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

Texts RateTexts(HWND window) {
  Texts texts;
  for (int i = 0; i < RATE_COUNT; ++i) texts.push_back(ControlText(window, IDC_RATE_FIRST + i));
  return texts;
}

Texts Formatted(const RateTable& rates) {
  Texts texts;
  for (float rate : rates) texts.push_back(FormatRate(rate));
  return texts;
}

bool WaitForRates(HWND window, const RateTable& rates) {
  return WaitUntil([&] { return RateTexts(window) == Formatted(rates); });
}

RateTable ServiceRates() {
  RateTable rates{};
  for (int i = 0; i < RATE_COUNT; ++i) rates[i] = 4.9771f + 0.5f * static_cast<float>(i);
  return rates;
}

std::vector<std::uint8_t> ProgramRatesRequest() {
  const Request request = EncodeRequest(BuildRatesKey() ? CMD_GET_SIGNED_RATES : CMD_GET_RATES, 1);
  return {request.begin(), request.end()};
}

void ServeProgramRates(FakeRatesService& service, const RateTable& rates, std::uint32_t date) {
  if (!BuildRatesKey()) return service.SetReply(CMD_GET_RATES, {RatesBytes(rates)});
  if (!ServiceRatesTestKey()) return;  // nothing the program would take
  const auto record = SignedRatesRecordForTest({date, RatesBank::NationalBankOfRomania}, rates, *ServiceRatesTestKey());
  service.SetReply(CMD_GET_SIGNED_RATES, {{record.begin(), record.end()}});
}

bool CanServeProgramRates() { return !BuildRatesKey() || ServiceRatesTestKey(); }
