#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "rates/currency.h"

// Where a rates file came from; the two banks publish different layouts.
enum class RatesSource { NationalBankOfRomania, EuropeanCentralBank };

// A reference-rates file turned into the table that the service sends. Only a file that gives
// a finite, positive rate for every currency we serve is accepted; anything else is an error and
// leaves nothing half-filled for the caller to serve.
struct RatesFile {
  bool ok = false;
  std::string error;  // why the file was refused, for the log
  RatesSource source = RatesSource::NationalBankOfRomania;
  std::string date;          // of the day served, as the file writes it (YYYY-MM-DD)
  RateTable rates{};         // RON per labelled unit, per 100 units for 100HUF and 100JPY
  std::vector<int> lacking;  // currencies the file's bank does not publish, served as 0
};

// Parses the bytes of a National Bank of Romania `nbrfxrates.xml` file (the newest `Cube` is
// served) or of a European Central Bank `eurofxref` daily file (RON cross rates from its RON
// rate). Never throws, whatever the bytes.
RatesFile ParseRatesFile(std::string_view bytes);

// The largest rates file taken; a whole year of the bank's file is 330 kB.
inline constexpr std::size_t MAX_RATES_FILE_BYTES = 16 << 20;

// The one way the service takes a rates file, for --check, the start and every reload: a regular
// file of at most 16 MB, read whole, then parsed. A device or a runaway download is not read at all.
RatesFile LoadRatesFile(const std::string& path);
