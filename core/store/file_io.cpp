#include "store/file_io.h"

#include <array>

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
  FileStream file(path, "rb");
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::array<std::uint8_t, 4096> chunk;
  std::size_t read = 0;
  while ((read = std::fread(chunk.data(), 1, chunk.size(), file.Get())) > 0) {
    if (read > maxBytes - bytes.size()) return std::nullopt;
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(read));
  }
  if (std::ferror(file.Get())) return std::nullopt;
  return bytes;
}
