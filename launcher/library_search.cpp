#include "library_search.h"

#include <cwchar>

namespace {

// Set once by the main thread before any loader thread starts.
bool g_searchRestricted = false;

}  // namespace

bool RestrictLibrarySearch() {
  // Looked up at run time: systems without it still start.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto restrict_ = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
  g_searchRestricted = restrict_ && restrict_(LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!g_searchRestricted) SetDllDirectoryW(L"");
  return g_searchRestricted;
}

DWORD DependencySearchFlags() {
  // The two cannot be combined; without the restriction the flags of the first kind are refused.
  return g_searchRestricted ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const UINT folderLength = GetSystemDirectoryW(path, MAX_PATH);
  if (folderLength == 0 || folderLength + 1 + std::wcslen(name) >= MAX_PATH) return nullptr;
  path[folderLength] = L'\\';
  std::wcscpy(path + folderLength + 1, name);
  return LoadLibraryExW(path, nullptr, DependencySearchFlags());
}
