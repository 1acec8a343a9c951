#pragma once

#include <map>
#include <string>

#include "rates/currency.h"

// A rate as a bank file writes it: the decimal text and the multiplier attribute ("": none).
struct XmlRate {
  std::string decimal;
  std::string multiplier = "";
};

// A complete National Bank of Romania file for one day: every served currency with a plausible
// rate, HUF and JPY per 100, changed or removed ("" decimal) as `changes` says.
std::string NationalBankXml(const std::string& date, const std::map<std::string, XmlRate>& changes = {});

// What the file says in the unit the service serves, read without an XML library: the newest
// day's decimals, as the float nearest to each (multipliers divided out where they differ).
RateTable ExpectedNationalBankRates(const std::string& xml);
std::string NewestNationalBankDate(const std::string& xml);
// RON cross rates of a European Central Bank file; 0 for what it does not list.
RateTable ExpectedCentralBankRates(const std::string& xml);

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
// Writes next to `path` and renames over it, as a daily download job does.
void ReplaceText(const std::string& path, const std::string& text);
