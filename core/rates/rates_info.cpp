#include "rates/rates_info.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/byte_order.h"

namespace {

constexpr char BNR_CODE[RATES_SOURCE_BYTES] = {'B', 'N', 'R', 0};
constexpr char ECB_CODE[RATES_SOURCE_BYTES] = {'E', 'C', 'B', 0};

std::chrono::year_month_day CalendarDate(std::uint32_t date) {
  using namespace std::chrono;
  return year_month_day{year{static_cast<int>(date / 10000)}, month{date / 100 % 100}, day{date % 100}};
}

std::string TwoDigits(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", value % 100);
  return text;
}

std::string OldSuffix(std::uint32_t date, const std::optional<LocalTime>& today) {
  if (!today) return "";
  const std::int64_t days = DaysOld(date, *today);
  if (days <= OLD_RATES_DAYS) return "";
  return " (" + std::to_string(days) + " days old)";
}

}  // namespace

std::optional<std::uint32_t> MakeRatesDate(int year, int month, int day) {
  if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  const auto date = static_cast<std::uint32_t>(year * 10000 + month * 100 + day);
  return CalendarDate(date).ok() ? std::optional(date) : std::nullopt;
}

bool IsRatesDate(std::uint32_t date) {
  return MakeRatesDate(static_cast<int>(date / 10000), static_cast<int>(date / 100 % 100),
                       static_cast<int>(date % 100)) == date;
}

std::optional<std::uint32_t> ParseIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int fields[3] = {};
  const std::pair<std::size_t, std::size_t> spans[] = {{0, 4}, {5, 2}, {8, 2}};
  for (int i = 0; i < 3; ++i) {
    for (std::size_t at = spans[i].first; at < spans[i].first + spans[i].second; ++at) {
      if (text[at] < '0' || text[at] > '9') return std::nullopt;
      fields[i] = fields[i] * 10 + (text[at] - '0');
    }
  }
  return MakeRatesDate(fields[0], fields[1], fields[2]);
}

RatesInfoBytes EncodeRatesInfo(const RatesInfo& info) {
  RatesInfoBytes bytes{};
  StoreU32(bytes.data(), info.date);
  std::memcpy(bytes.data() + 4, info.bank == RatesBank::EuropeanCentralBank ? ECB_CODE : BNR_CODE, RATES_SOURCE_BYTES);
  return bytes;
}

std::optional<RatesInfo> DecodeRatesInfo(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != RATES_INFO_BYTES) return std::nullopt;
  RatesInfo info;
  info.date = LoadU32(bytes.data());
  if (!IsRatesDate(info.date)) return std::nullopt;
  if (std::memcmp(bytes.data() + 4, BNR_CODE, RATES_SOURCE_BYTES) == 0)
    info.bank = RatesBank::NationalBankOfRomania;
  else if (std::memcmp(bytes.data() + 4, ECB_CODE, RATES_SOURCE_BYTES) == 0)
    info.bank = RatesBank::EuropeanCentralBank;
  else
    return std::nullopt;
  return info;
}

std::int64_t DaysOld(std::uint32_t date, const LocalTime& today) {
  using namespace std::chrono;
  const year_month_day now{year{today.year}, month{static_cast<unsigned>(today.month)},
                           day{static_cast<unsigned>(today.day)}};
  return (sys_days{now} - sys_days{CalendarDate(date)}).count();
}

std::string FormatRatesDate(std::uint32_t date) {
  return TwoDigits(date % 100) + "/" + TwoDigits(date / 100 % 100) + "/" + std::to_string(date / 10000);
}

std::string FormatIsoDate(std::uint32_t date) {
  return std::to_string(date / 10000) + "-" + TwoDigits(date / 100 % 100) + "-" + TwoDigits(date % 100);
}

const char* BankName(RatesBank bank) {
  return bank == RatesBank::EuropeanCentralBank ? "European Central Bank" : "National Bank of Romania";
}

const char* BankCode(RatesBank bank) { return bank == RatesBank::EuropeanCentralBank ? "ECB" : "BNR"; }

std::string RatesLineTip(const std::optional<RatesInfo>& info, const std::optional<LocalTime>& today) {
  if (!info) return "Date of the rates unknown";
  return "Rates of " + FormatRatesDate(info->date) + " from the " + BankName(info->bank) + OldSuffix(info->date, today);
}

std::string TrayRatesTip(const RatesInfo& info, const std::optional<LocalTime>& today) {
  return "Orvane: rates of " + FormatRatesDate(info.date) + OldSuffix(info.date, today);
}

std::optional<RatesInfo> LoadRatesInfo(SettingsStore& store) {
  const auto bytes = store.ReadBinary(SNAPSHOT_SECTION, RATES_INFO_ENTRY);
  return bytes ? DecodeRatesInfo(*bytes) : std::nullopt;
}

bool SaveRatesInfo(SettingsStore& store, const RatesInfo& info) {
  return store.WriteBinary(SNAPSHOT_SECTION, RATES_INFO_ENTRY, EncodeRatesInfo(info));
}
