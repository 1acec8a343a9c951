#include "module.h"

// The linker's symbol for the start of the module's own image, which is its instance handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

HBITMAP LoadModuleBitmap(int id) { return LoadBitmapA(ModuleInstance(), MAKEINTRESOURCEA(id)); }

HICON LoadModuleIcon(int id, int size) {
  const UINT flags = size == 0 ? LR_DEFAULTSIZE | LR_SHARED : LR_SHARED;
  return static_cast<HICON>(LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, flags));
}

HCURSOR LoadModuleCursor(int id) { return LoadCursorA(ModuleInstance(), MAKEINTRESOURCEA(id)); }

std::filesystem::path ModuleFileName(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  // A full buffer means a cut path; no file system has one longer than 32767 characters.
  while (path.size() <= 32768) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
  return {};
}
