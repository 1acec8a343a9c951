#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <vector>

// The few file operations that need the platform: paths are UTF-16 on Windows, so a folder named
// outside the ANSI code page works, and "on disk" means flushed past every cache.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);
// Everything written to `file` is on the disk when this returns true.
bool FlushFileToDisk(std::FILE* file);
// `from` takes the name `to`, replacing what had it, and the new name is on the disk when this
// returns true.
bool ReplaceFileDurably(const std::filesystem::path& from, const std::filesystem::path& to);
// Quiet: a file that is not there is no failure.
void RemoveFile(const std::filesystem::path& path);

// An open C stream that is closed on every path. Close says whether everything written reached
// the file, which a close in a destructor could not.
class FileStream {
 public:
  FileStream(const std::filesystem::path& path, const char* mode) : m_file(OpenFile(path, mode)) {}
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
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                       std::size_t maxBytes = std::numeric_limits<std::size_t>::max());
