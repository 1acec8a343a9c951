#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The three files of the program folder that the swap works on, by their full UTF-16 paths (in
// the extended form where they are long).
struct ProgramFiles {
  std::wstring library;
  std::wstring update;
  std::wstring backup;
};

// The files beside this program; nothing when the system cannot give its path.
std::optional<ProgramFiles> FindProgramFiles();

// Whether the open `file`, read from its start, is an update this build may run: signed with the
// key compiled in (checked first, so that no unauthenticated byte reaches the PE parser), then a
// complete library for this machine with the library's export.
bool IsVerifiedUpdate(HANDLE file);

// Puts a verified update in the library's place, the old library kept as the backup until the
// new one has loaded. An update that fails its checks is deleted and the old library keeps its
// name; so it does when the library is held open, which shows the two messages, or when the
// update cannot be opened, which shows the second for an update that the library `announced`
// (one found at start is left alone quietly). True when the update took the library's name.
bool SwapInUpdate(const ProgramFiles& files, bool announced = true);

// After a new library failed to load or lacked its export: the backup takes the library's name
// again. False when there is no backup or it cannot be moved.
bool RestoreBackup(const ProgramFiles& files);

// At every start, before the library is loaded: whatever a swap cut short is put right, so that
// the folder ends with the library alone and any update becomes it only after its checks. A
// backup beside a library stays until that library has loaded.
void RepairProgramFolder(const ProgramFiles& files);

// The update now waiting (named by the library in the environment, or any when none is named) is
// not to be taken again in this run of the program.
void RefuseUpdate();

// The library that now bears the name has loaded and has its export: the backup is no longer
// needed and no update is pending.
void ConfirmLibrary(const ProgramFiles& files);
