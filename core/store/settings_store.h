#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Where the settings live: HKEY_CURRENT_USER\Software\<company>\<application>\<section> on
// Windows, a folder per user elsewhere. Stored data depends on these names: never change them.
inline constexpr char SETTINGS_COMPANY[] = "Brennik Software";
inline constexpr char SETTINGS_APPLICATION[] = "BrennikDll";
inline constexpr char SNAPSHOT_SECTION[] = "LastUpdate";
inline constexpr char SNAPSHOT_ENTRY[] = "LastUpdate";

// A per-user store of named raw-bytes values grouped in sections.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Creates the section as needed and replaces any previous value.
  virtual bool WriteBinary(const std::string& section, const std::string& entry,
                           std::span<const std::uint8_t> bytes) = 0;
  // Nothing when the value is missing, unreadable or not a raw-bytes value.
  virtual std::optional<std::vector<std::uint8_t>> ReadBinary(const std::string& section, const std::string& entry) = 0;
};
