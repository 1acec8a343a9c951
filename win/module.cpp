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
