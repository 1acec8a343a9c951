#include "registry_store.h"

#include <windows.h>

#include "handle.h"

namespace {

// Larger than any value of ours; a bigger value is not one of ours.
constexpr DWORD MAX_VALUE_BYTES = 1 << 20;

}  // namespace

RegistryStore::RegistryStore(std::string company, std::string application)
    : m_applicationKey("Software\\" + company + "\\" + application) {}

std::string RegistryStore::SectionKey(const std::string& section) const { return m_applicationKey + "\\" + section; }

bool RegistryStore::WriteBinary(const std::string& section, const std::string& entry,
                                std::span<const std::uint8_t> bytes) {
  if (bytes.size() > MAX_VALUE_BYTES) return false;
  RegistryKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(key.Get(), entry.c_str(), 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size())) ==
         ERROR_SUCCESS;
}

std::optional<std::vector<std::uint8_t>> RegistryStore::ReadBinary(const std::string& section,
                                                                   const std::string& entry) {
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key.Get(), entry.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_BINARY || size > MAX_VALUE_BYTES)
    return std::nullopt;
  std::vector<std::uint8_t> bytes(size);
  // The value may change between the two queries; the second one reports what it copied.
  if (RegQueryValueExA(key.Get(), entry.c_str(), nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS ||
      type != REG_BINARY)
    return std::nullopt;
  bytes.resize(size);
  return bytes;
}
