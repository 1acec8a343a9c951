#pragma once

#include <filesystem>

#include "settings_store.h"

// The settings store where there is no registry: one file per entry under
// <root>/<company>/<application>/<section>/<entry>. A write goes to a temporary file that is
// then renamed over the old one, so a crash never leaves half a value.
class FileStore final : public SettingsStore {
 public:
  explicit FileStore(std::filesystem::path root);

  // $XDG_CONFIG_HOME, else $HOME/.config; empty when neither is set.
  static std::filesystem::path DefaultRoot();

  bool WriteBinary(const std::string& section, const std::string& entry, std::span<const std::uint8_t> bytes) override;
  std::optional<std::vector<std::uint8_t>> ReadBinary(const std::string& section, const std::string& entry) override;

 private:
  std::optional<std::filesystem::path> EntryPath(const std::string& section, const std::string& entry) const;

  std::filesystem::path m_root;
};
