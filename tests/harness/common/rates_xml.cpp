#include "rates_xml.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "store/file_io.h"

namespace {

const std::map<std::string, XmlRate> DEFAULT_RATES = {
    {"EUR", {"4.9750"}}, {"USD", {"4.5312"}}, {"XAU", {"412.3456"}},      {"AUD", {"2.9871"}},
    {"CAD", {"3.2874"}}, {"CHF", {"5.1122"}}, {"CZK", {"0.1978"}},        {"DKK", {"0.6667"}},
    {"EGP", {"0.0941"}}, {"GBP", {"5.7320"}}, {"HUF", {"1.2345", "100"}}, {"JPY", {"3.0123", "100"}},
    {"MDL", {"0.2654"}}, {"NOK", {"0.4321"}}, {"PLN", {"1.1623"}},        {"SEK", {"0.4412"}},
    {"TRY", {"0.1345"}}, {"XDR", {"6.0567"}}, {"CNY", {"0.6311"}}};

std::string IsoCode(int index) {
  std::string label = CurrencyCodes[index];
  return label.starts_with("100") ? label.substr(3) : label;
}

// The text between `from` and the next `to`, starting the search at `at`.
std::string Between(const std::string& text, const std::string& from, const std::string& to, std::size_t at = 0) {
  const std::size_t start = text.find(from, at);
  if (start == std::string::npos) return {};
  const std::size_t end = text.find(to, start + from.size());
  return text.substr(start + from.size(), end - start - from.size());
}

}  // namespace

std::string NationalBankXml(const std::string& date, const std::map<std::string, XmlRate>& changes) {
  std::map<std::string, XmlRate> rates = DEFAULT_RATES;
  for (const auto& [code, rate] : changes) rates[code] = rate;
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<DataSet xmlns=\"http://www.bnr.ro/xsd\">\n"
      "\t<Header>\n\t\t<Publisher>National Bank of Romania</Publisher>\n\t\t<PublishingDate>" +
      date +
      "</PublishingDate>\n\t</Header>\n\t<Body>\n\t\t<OrigCurrency>RON</OrigCurrency>\n"
      "\t\t<Cube date=\"" +
      date + "\">\n";
  for (const auto& [code, rate] : rates) {
    if (rate.decimal.empty()) continue;
    xml += "\t\t\t<Rate currency=\"" + code + "\"";
    if (!rate.multiplier.empty()) xml += " multiplier=\"" + rate.multiplier + "\"";
    xml += ">" + rate.decimal + "</Rate>\n";
  }
  return xml + "\t\t</Cube>\n\t</Body>\n</DataSet>\n";
}

std::string NewestNationalBankDate(const std::string& xml) {
  std::string newest;
  for (std::size_t at = xml.find("<Cube date=\""); at != std::string::npos; at = xml.find("<Cube date=\"", at + 1))
    newest = std::max(newest, xml.substr(at + 12, 10));
  return newest;
}

RateTable ExpectedNationalBankRates(const std::string& xml) {
  const std::string cube = Between(xml, "<Cube date=\"" + NewestNationalBankDate(xml) + "\">", "</Cube>");
  RateTable rates{};
  for (int i = 0; i < RATE_COUNT; ++i) {
    const std::string tag = Between(cube, "currency=\"" + IsoCode(i) + "\"", "</Rate>");
    const std::string decimal = tag.substr(tag.find('>') + 1);
    const std::string multiplierText = Between(tag, "multiplier=\"", "\"");
    const double multiplier = multiplierText.empty() ? 1 : std::stod(multiplierText);
    const double unit = CurrencyCodes[i][0] == '1' ? 100 : 1;
    rates[i] = multiplier == unit ? std::strtof(decimal.c_str(), nullptr)
                                  : static_cast<float>(std::strtod(decimal.c_str(), nullptr) * unit / multiplier);
  }
  return rates;
}

RateTable ExpectedCentralBankRates(const std::string& xml) {
  auto perEuro = [&](const std::string& code) {
    const std::string rate = Between(xml, "currency='" + code + "' rate='", "'");
    return rate.empty() ? 0.0 : std::strtod(rate.c_str(), nullptr);
  };
  const double ron = perEuro("RON");
  RateTable rates{};
  for (int i = 0; i < RATE_COUNT; ++i) {
    const double euro = i == 0 ? 1.0 : perEuro(IsoCode(i));
    const double unit = CurrencyCodes[i][0] == '1' ? 100 : 1;
    rates[i] = euro == 0 ? 0.0f : static_cast<float>(ron / euro * unit);
  }
  return rates;
}

std::string ReadText(const std::string& path) {
  const auto bytes = ReadWholeFile(path);
  if (!bytes) throw std::runtime_error("cannot read " + path);
  return std::string(bytes->begin(), bytes->end());
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
}

void ReplaceText(const std::string& path, const std::string& text) {
  WriteText(path + ".new", text);
  std::filesystem::rename(path + ".new", path);
}
