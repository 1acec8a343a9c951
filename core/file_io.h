#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

// An open C stream that is closed on every path. Close says whether everything written reached
// the file, which a close in a destructor could not.
class FileStream {
 public:
  FileStream(const std::string& path, const char* mode) : m_file(std::fopen(path.c_str(), mode)) {}
  ~FileStream() {
    if (m_file) std::fclose(m_file);
  }
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  explicit operator bool() const { return m_file != nullptr; }
  std::FILE* Get() const { return m_file; }

  bool Close() {
    std::FILE* file = m_file;
    m_file = nullptr;
    return file && std::fclose(file) == 0;
  }

 private:
  std::FILE* m_file;
};

// The whole content of a file; nothing when it cannot be opened or read, or when it holds more
// than `maxBytes`.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::size_t maxBytes = std::numeric_limits<std::size_t>::max());
