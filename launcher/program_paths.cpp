#include "program_paths.h"

std::optional<std::wstring> ProgramDirectory(std::wstring_view modulePath) {
  const std::size_t lastSeparator = modulePath.rfind(L'\\');
  if (lastSeparator == std::wstring_view::npos) return std::nullopt;
  return std::wstring(modulePath.substr(0, lastSeparator));
}

std::wstring ProgramFilePath(std::wstring_view directory, std::wstring_view fileName) {
  std::wstring path;
  path.reserve(directory.size() + 1 + fileName.size());
  path.append(directory).append(L"\\").append(fileName);
  return path;
}

std::wstring ExtendedLengthPath(std::wstring_view path) {
  // Room for the terminating NUL: a path of 259 characters still works plainly.
  if (path.size() < PLAIN_PATH_LIMIT) return std::wstring(path);
  if (path.starts_with(L"\\\\?\\")) return std::wstring(path);
  const bool drivePath = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
  if (drivePath) return L"\\\\?\\" + std::wstring(path);
  const bool uncPath = path.starts_with(L"\\\\") && !path.starts_with(L"\\\\.\\");
  if (uncPath) return L"\\\\?\\UNC\\" + std::wstring(path.substr(2));
  return std::wstring(path);
}
