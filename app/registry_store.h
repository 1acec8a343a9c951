#pragma once

#include <string>

#include "store/settings_store.h"

// The settings store on the registry: value <entry> of type REG_BINARY under
// HKEY_CURRENT_USER\Software\<company>\<application>\<section>.
class RegistryStore final : public SettingsStore {
 public:
  RegistryStore(std::string company, std::string application);

  bool WriteBinary(const std::string& section, const std::string& entry, std::span<const std::uint8_t> bytes) override;
  std::optional<std::vector<std::uint8_t>> ReadBinary(const std::string& section, const std::string& entry) override;

 private:
  std::string SectionKey(const std::string& section) const;

  std::string m_applicationKey;
};
