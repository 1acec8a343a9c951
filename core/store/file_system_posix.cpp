#include <fcntl.h>
#include <unistd.h>

#include "store/file_io.h"

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool FlushFileToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool ReplaceFileDurably(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  // The new name lives in the folder: it is durable once the folder is.
  std::filesystem::path folder = to.parent_path();
  if (folder.empty()) folder = ".";
  const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  const bool synced = fsync(directory) == 0;
  close(directory);
  return synced;
}

void RemoveFile(const std::filesystem::path& path) { std::remove(path.c_str()); }
