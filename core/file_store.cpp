#include "file_store.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace {

// Section and entry names become path components: nothing that could leave the folder.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// Larger than any value of ours; a bigger file is not one of our values.
constexpr std::uintmax_t MAX_VALUE_BYTES = 1 << 20;

}  // namespace

FileStore::FileStore(std::filesystem::path root) : m_root(std::move(root)) {}

std::filesystem::path FileStore::DefaultRoot() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) return config;
  if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home) / ".config";
  return {};
}

std::optional<std::filesystem::path> FileStore::EntryPath(const std::string& section, const std::string& entry) const {
  if (m_root.empty() || !IsPlainName(section) || !IsPlainName(entry)) return std::nullopt;
  return m_root / SETTINGS_COMPANY / SETTINGS_APPLICATION / section / entry;
}

bool FileStore::WriteBinary(const std::string& section, const std::string& entry, std::span<const std::uint8_t> bytes) {
  const auto path = EntryPath(section, entry);
  if (!path) return false;
  std::error_code error;
  std::filesystem::create_directories(path->parent_path(), error);
  if (error) return false;
  std::filesystem::path temporary = *path;
  temporary += ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (written && closed) std::filesystem::rename(temporary, *path, error);
  if (!written || !closed || error) {
    std::filesystem::remove(temporary, error);
    return false;
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> FileStore::ReadBinary(const std::string& section, const std::string& entry) {
  const auto path = EntryPath(section, entry);
  if (!path) return std::nullopt;
  std::error_code error;
  if (!std::filesystem::is_regular_file(*path, error)) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(*path, error);
  if (error || size > MAX_VALUE_BYTES) return std::nullopt;
  std::FILE* file = std::fopen(path->c_str(), "rb");
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  const bool read = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fgetc(file) == EOF;
  std::fclose(file);
  if (!read) return std::nullopt;
  return bytes;
}
