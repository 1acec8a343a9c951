#pragma once

// The names that the launcher, the client's update check and the rates service must agree on,
// spelled once. Header only: the launcher includes it without linking anything of the core.

#define ORVANE_LIBRARY_NAME "BrennikDll.dll"
#define ORVANE_UPDATE_NAME "BrennikDllUpdate.dll"

// The one entry of the library; an update without it could not be run.
inline constexpr char LIBRARY_EXPORT[] = "RunBrennikDll";

inline constexpr char LIBRARY_FILE_NAME[] = ORVANE_LIBRARY_NAME;
inline constexpr char UPDATE_FILE_NAME[] = ORVANE_UPDATE_NAME;
inline constexpr wchar_t LIBRARY_FILE_NAME_W[] = L"" ORVANE_LIBRARY_NAME;
inline constexpr wchar_t UPDATE_FILE_NAME_W[] = L"" ORVANE_UPDATE_NAME;

// The library is unloaded and loaded again around every swap, so what must outlive one run of it
// lives in the process environment. Before it ends its window for an update it names the
// update's version in the first; when the launcher cannot take that update it adds the version
// to the second (';' between versions, "*" when it was not named: take none), which the library
// reads before it downloads anything.
inline constexpr wchar_t UPDATE_VERSION_VARIABLE[] = L"OrvaneUpdateVersion";
inline constexpr wchar_t REFUSED_UPDATES_VARIABLE[] = L"OrvaneRefusedUpdates";
inline constexpr wchar_t REFUSE_EVERY_UPDATE[] = L"*";
