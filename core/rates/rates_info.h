#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/local_clock.h"
#include "store/settings_store.h"

// The day the rates were published and the bank that published them, as the signed rates record
// carries them and as they are kept beside the snapshot: the date as a little-endian uint32
// YYYYMMDD, then the source in 4 ASCII bytes padded with NUL.
inline constexpr std::size_t RATES_INFO_BYTES = 8;
inline constexpr std::size_t RATES_SOURCE_BYTES = 4;

enum class RatesBank { NationalBankOfRomania, EuropeanCentralBank };

struct RatesInfo {
  std::uint32_t date = 0;  // YYYYMMDD: 8 December 2026 is 20261208
  RatesBank bank = RatesBank::NationalBankOfRomania;

  friend bool operator==(const RatesInfo&, const RatesInfo&) = default;
};

using RatesInfoBytes = std::array<std::uint8_t, RATES_INFO_BYTES>;

// A date of the calendar (years 1900 to 9999), nothing else, as YYYYMMDD.
std::optional<std::uint32_t> MakeRatesDate(int year, int month, int day);
bool IsRatesDate(std::uint32_t date);
// "2026-12-08", as the banks' files write it, into YYYYMMDD.
std::optional<std::uint32_t> ParseIsoDate(std::string_view text);

RatesInfoBytes EncodeRatesInfo(const RatesInfo& info);
// Exactly 8 bytes of a real date and a source this program knows ("BNR" or "ECB"); nothing for
// anything else.
std::optional<RatesInfo> DecodeRatesInfo(std::span<const std::uint8_t> bytes);

// Whole days from the rates' date to `today`'s date; negative for a date after today.
std::int64_t DaysOld(std::uint32_t date, const LocalTime& today);

// Rates more than this many days older than today are called old wherever they are shown.
inline constexpr std::int64_t OLD_RATES_DAYS = 4;

std::string FormatRatesDate(std::uint32_t date);  // "08/12/2026"
std::string FormatIsoDate(std::uint32_t date);    // "2026-12-08"
const char* BankName(RatesBank bank);             // "National Bank of Romania"
const char* BankCode(RatesBank bank);             // "BNR"

// The tip of the "Last Updated" line: "Rates of 08/12/2026 from the National Bank of Romania",
// " (N days old)" added when they are old; "Date of the rates unknown" without a date.
std::string RatesLineTip(const std::optional<RatesInfo>& info, const std::optional<LocalTime>& today);
// The tray icon's tip: "Orvane: rates of 08/12/2026", " (N days old)" added when they are old.
std::string TrayRatesTip(const RatesInfo& info, const std::optional<LocalTime>& today);

// The value "RatesInfo" beside "LastUpdate"; anything but 8 bytes of a known date and source is
// ignored.
inline constexpr char RATES_INFO_ENTRY[] = "RatesInfo";
std::optional<RatesInfo> LoadRatesInfo(SettingsStore& store);
bool SaveRatesInfo(SettingsStore& store, const RatesInfo& info);
