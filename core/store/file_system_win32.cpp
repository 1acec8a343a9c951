#include <io.h>
#include <windows.h>

#include <string>

#include "store/file_io.h"

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  const std::string narrow(mode);
  return _wfopen(path.c_str(), std::wstring(narrow.begin(), narrow.end()).c_str());
}

bool FlushFileToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
}

bool ReplaceFileDurably(const std::filesystem::path& from, const std::filesystem::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void RemoveFile(const std::filesystem::path& path) { DeleteFileW(path.c_str()); }
