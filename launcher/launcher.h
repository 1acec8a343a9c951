#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "update/library_contract.h"

inline constexpr char INSTANCE_EVENT_NAME[] = "OrvaneAplicationEventUniqueInstance";
// Where the old library waits while the update takes its name, so that it can be put back.
inline constexpr char BACKUP_FILE_NAME[] = "BrennikDllBackup.dll";
// The same name for the swap, which works on the program's own UTF-16 path.
inline constexpr wchar_t BACKUP_FILE_NAME_W[] = L"BrennikDllBackup.dll";

inline constexpr char MESSAGE_CAPTION[] = "Orvane";
inline constexpr char DELETE_FAILED_TEXT[] = "Cannot delete temp file";
inline constexpr char MOVE_FAILED_TEXT[] = "Cannot move temp file";
inline constexpr char LOAD_FAILED_TEXT[] = "Cannot load " ORVANE_LIBRARY_NAME;

// Exit code of a loader thread that could not load the library or find its export.
inline constexpr DWORD LOADER_FAILED = static_cast<DWORD>(-1);

// One of the launcher's messages, with no owner window.
void ShowLauncherMessage(const char* text);

// What ended the main thread's wait on a run of the library.
enum class LibraryOutcome { Exit, UpdateReady, LoaderEnded, WaitFailed };

// Waits for the exit event, the update-ready event or the end of the loader thread, whichever
// comes first; a library that signalled and then returned counts as having signalled.
LibraryOutcome WaitForLibrary(const HANDLE* launcherEvents, HANDLE loaderThread);

// The full path of this program, however long it is; nothing when the system cannot give it.
std::optional<std::wstring> OwnModulePath();

// The whole launcher; the result is the process exit code, 0 on every path.
int RunLauncher(HINSTANCE instance);
