#pragma once

#include <windows.h>

// From here on, every library that the process loads by name, and every dependency of one,
// comes from System32 alone: the CNG providers, WIC codecs and common controls that the library
// loads later, and the system libraries that it imports. The program's own library is loaded by
// its full path. False where the system cannot restrict the search (Vista and 7 without
// KB2533623); there only the current folder is taken out of it.
bool RestrictLibrarySearch();

// The flags for LoadLibraryExW with a full path, so that the library's dependencies come from
// System32: the search of RestrictLibrarySearch where it took, else the folder of the library
// named and then the usual order.
DWORD DependencySearchFlags();

// A library of System32 by its full path, its dependencies from System32 too; null when it
// cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);
