#include "update/update_check.h"

#include <charconv>
#include <cmath>

#include "update/library_contract.h"
#include "update/update_signature.h"

namespace {

std::optional<float> ParseVersion(std::string_view text) {
  float value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

bool IsNewerVersion(float offered, float running) { return std::isfinite(offered) && offered > running; }

std::optional<float> ClientVersionOf(PeFileVersion version) {
  return ParseVersion(std::to_string(version.major) + "." + std::to_string(version.minor));
}

std::string FormatVersion(float version) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, version);
  return error == std::errc{} ? std::string(text, end) : std::string();
}

bool IsListedVersion(std::string_view list, float version) {
  while (!list.empty()) {
    const std::size_t end = list.find(';');
    const std::string_view entry = list.substr(0, end);
    if (entry == "*") return true;
    const auto listed = ParseVersion(entry);
    if (listed && *listed == version) return true;
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return false;
}

const char* DescribeUpdateCheck(UpdateCheck check) {
  switch (check) {
    case UpdateCheck::Valid:
      return "a signed library of the offered version";
    case UpdateCheck::BadSignature:
      return "not signed with the update key";
    case UpdateCheck::NotALibrary:
      return "not a library that this program can run";
    case UpdateCheck::OtherVersion:
      return "its version resource differs from the offered version";
  }
  return "unknown update check";
}

UpdateCheck CheckUpdateFile(std::span<const std::uint8_t> file, const UpdateKey& key, float offered) {
  if (CheckUpdateSignature(file, key) != SignatureCheck::Valid) return UpdateCheck::BadSignature;
  const auto image = SignedPart(file);
  if (!IsPeLibraryWithExport(image, RUNNING_MACHINE, LIBRARY_EXPORT)) return UpdateCheck::NotALibrary;
  const auto fileVersion = ReadPeFileVersion(image, RUNNING_MACHINE);
  const auto version = fileVersion ? ClientVersionOf(*fileVersion) : std::nullopt;
  if (!version || *version != offered) return UpdateCheck::OtherVersion;
  return UpdateCheck::Valid;
}
