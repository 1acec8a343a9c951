#include "rates_file.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pugixml.hpp>

namespace {

// A served currency's label read as the banks count it: "100HUF" is HUF in hundreds, "EUR" is
// EUR by the unit.
struct LabelUnit {
  std::string_view isoCode;
  double units = 1.0;
};

LabelUnit ReadLabel(int index) {
  const std::string_view label = CurrencyCodes[index];
  const std::size_t digits = label.find_first_not_of("0123456789");
  LabelUnit unit{label.substr(digits)};
  if (digits > 0) std::from_chars(label.data(), label.data() + digits, unit.units);
  return unit;
}

double UnitScale(int index) { return ReadLabel(index).units; }
std::string_view IsoCode(int index) { return ReadLabel(index).isoCode; }

std::optional<int> IndexOfIsoCode(std::string_view code) {
  for (int i = 0; i < RATE_COUNT; ++i)
    if (IsoCode(i) == code) return i;
  return std::nullopt;
}

std::string_view Trimmed(std::string_view text) {
  const char* space = " \t\r\n";
  const std::size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A plain decimal as the banks write it ("4.9472"): no sign, exponent, hex, inf or nan, and the
// same result in every locale.
template <typename Number>
std::optional<Number> ParseDecimal(std::string_view text) {
  text = Trimmed(text);
  if (text.empty() || !(text[0] >= '0' && text[0] <= '9')) return std::nullopt;
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<int> ParseMultiplier(const pugi::xml_attribute& attribute) {
  if (!attribute) return 1;
  const std::string_view text = Trimmed(attribute.value());
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

bool IsIsoDate(std::string_view date) {
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (date[i] < '0' || date[i] > '9') return false;
  return true;
}

// Element names without their namespace prefix: the ECB file mixes `gesmes:` with a default one.
std::string_view LocalName(const pugi::xml_node& node) {
  std::string_view name = node.name();
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

RatesFile Refuse(RatesFile file, std::string error) {
  file.ok = false;
  file.error = std::move(error);
  file.rates = {};
  return file;
}

// The dated Cube with the latest date; on equal dates the later one in the file wins.
pugi::xml_node NewestCube(const pugi::xml_node& root, const char* dateAttribute) {
  pugi::xml_node newest;
  std::string_view newestDate;
  for (const pugi::xpath_node& found : root.select_nodes("//*[local-name()='Cube']")) {
    const pugi::xml_node cube = found.node();
    const std::string_view date = cube.attribute(dateAttribute).value();
    if (!IsIsoDate(date)) continue;
    if (!newest || date >= newestDate) {
      newest = cube;
      newestDate = date;
    }
  }
  return newest;
}

bool AllPositiveAndFinite(const RatesFile& file) {
  for (int i = 0; i < RATE_COUNT; ++i) {
    bool lacked = false;
    for (int index : file.lacking) lacked = lacked || index == i;
    if (!lacked && !(std::isfinite(file.rates[i]) && file.rates[i] > 0)) return false;
  }
  return true;
}

RatesFile ParseNationalBankCube(const pugi::xml_node& cube, RatesFile file) {
  bool seen[RATE_COUNT] = {};
  for (const pugi::xml_node& rate : cube.children()) {
    if (LocalName(rate) != "Rate") continue;
    const auto index = IndexOfIsoCode(rate.attribute("currency").value());
    if (!index) continue;
    if (seen[*index]) return Refuse(std::move(file), "currency " + std::string(IsoCode(*index)) + " given twice");
    const auto multiplier = ParseMultiplier(rate.attribute("multiplier"));
    if (!multiplier) return Refuse(std::move(file), "bad multiplier for " + std::string(IsoCode(*index)));
    const double scale = UnitScale(*index);
    float value = 0;
    if (scale == *multiplier) {
      // Already in the unit we serve: the float nearest to the decimal, rounded once.
      const auto parsed = ParseDecimal<float>(rate.text().get());
      if (!parsed) return Refuse(std::move(file), "bad rate for " + std::string(IsoCode(*index)));
      value = *parsed;
    } else {
      const auto parsed = ParseDecimal<double>(rate.text().get());
      if (!parsed) return Refuse(std::move(file), "bad rate for " + std::string(IsoCode(*index)));
      value = static_cast<float>(*parsed * scale / *multiplier);
    }
    file.rates[*index] = value;
    seen[*index] = true;
  }
  for (int i = 0; i < RATE_COUNT; ++i)
    if (!seen[i]) return Refuse(std::move(file), "no rate for " + std::string(IsoCode(i)));
  if (!AllPositiveAndFinite(file)) return Refuse(std::move(file), "a rate is zero, negative or out of range");
  file.ok = true;
  return file;
}

// The ECB quotes units of each currency per euro; RON per unit of X is then RON/X.
RatesFile ParseCentralBankCube(const pugi::xml_node& cube, RatesFile file) {
  std::optional<double> perEuro[RATE_COUNT];
  std::optional<double> ronPerEuro;
  for (const pugi::xml_node& rate : cube.children()) {
    if (LocalName(rate) != "Cube") continue;
    const std::string_view code = rate.attribute("currency").value();
    const auto index = IndexOfIsoCode(code);
    if (code != "RON" && !index) continue;
    std::optional<double>& slot = code == "RON" ? ronPerEuro : perEuro[*index];
    if (slot) return Refuse(std::move(file), "currency " + std::string(code) + " given twice");
    slot = ParseDecimal<double>(rate.attribute("rate").value());
    if (!slot || !(*slot > 0) || !std::isfinite(*slot))
      return Refuse(std::move(file), "bad rate for " + std::string(code));
  }
  if (!ronPerEuro) return Refuse(std::move(file), "no rate for RON");
  // The euro itself is not listed: one euro is worth the RON rate.
  perEuro[0] = 1.0;
  for (int i = 0; i < RATE_COUNT; ++i) {
    if (!perEuro[i]) {
      file.lacking.push_back(i);
      continue;
    }
    file.rates[i] = static_cast<float>(*ronPerEuro / *perEuro[i] * UnitScale(i));
  }
  // Only what the ECB never publishes may be missing: gold, the SDR, the Egyptian pound and the leu of Moldova.
  for (int index : file.lacking) {
    const std::string_view code = IsoCode(index);
    if (code != "XAU" && code != "XDR" && code != "EGP" && code != "MDL")
      return Refuse(std::move(file), "no rate for " + std::string(code));
  }
  if (!AllPositiveAndFinite(file)) return Refuse(std::move(file), "a rate is zero, negative or out of range");
  file.ok = true;
  return file;
}

}  // namespace

RatesFile ParseRatesFile(std::string_view bytes) {
  RatesFile file;
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default);
  if (!parsed) return Refuse(std::move(file), std::string("not well-formed XML: ") + parsed.description());
  const pugi::xml_node root = document.document_element();
  if (LocalName(root) == "DataSet") {
    file.source = RatesSource::NationalBankOfRomania;
    const pugi::xml_node cube = NewestCube(root, "date");
    if (!cube) return Refuse(std::move(file), "no dated Cube");
    file.date = cube.attribute("date").value();
    return ParseNationalBankCube(cube, std::move(file));
  }
  if (LocalName(root) == "Envelope") {
    file.source = RatesSource::EuropeanCentralBank;
    const pugi::xml_node cube = NewestCube(root, "time");
    if (!cube) return Refuse(std::move(file), "no dated Cube");
    file.date = cube.attribute("time").value();
    return ParseCentralBankCube(cube, std::move(file));
  }
  return Refuse(std::move(file), "neither a National Bank of Romania nor a European Central Bank rates file");
}

RatesFile LoadRatesFile(const std::string& path) {
  // Opened without waiting, so that a named pipe in the file's place cannot hold the service up,
  // and judged by what was opened rather than by the name.
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return Refuse(RatesFile{}, "cannot read");
  struct stat info {};
  bool fits = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<std::uintmax_t>(info.st_size) <= MAX_RATES_FILE_BYTES;
  std::string bytes;
  ssize_t got = 0;
  if (fits) {
    std::array<char, 65536> chunk;
    // A file that grows past the limit while it is read is refused as well.
    while (bytes.size() <= MAX_RATES_FILE_BYTES && (got = read(descriptor, chunk.data(), chunk.size())) != 0) {
      if (got < 0 && errno != EINTR) break;
      if (got > 0) bytes.append(chunk.data(), static_cast<std::size_t>(got));
    }
    fits = bytes.size() <= MAX_RATES_FILE_BYTES;
  }
  close(descriptor);
  if (!fits) return Refuse(RatesFile{}, "not a regular file of at most 16 MB");
  if (got < 0) return Refuse(RatesFile{}, "read error");
  return ParseRatesFile(bytes);
}
