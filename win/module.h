#pragma once

#include <windows.h>

#include <filesystem>

// The module that this code is linked into: the library itself when it runs inside
// BrennikDll.dll. Templates, bitmaps, icons and cursors are always looked up here, never in the
// program that loaded the library.
HINSTANCE ModuleInstance();

HBITMAP LoadModuleBitmap(int id);
HICON LoadModuleIcon(int id, int size = 0);  // size 0: the system's default icon size
HCURSOR LoadModuleCursor(int id);

// The file path of a loaded module, whatever its length and in whatever script; empty when the
// system cannot say.
std::filesystem::path ModuleFileName(HMODULE module);
