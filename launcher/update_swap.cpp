#include "update_swap.h"

#include <vector>

#include "handle.h"
#include "launcher.h"
#include "net/protocol.h"
#include "program_paths.h"
#include "refused_updates.h"
#include "signing/update_key.h"
#include "update/pe_image.h"
#include "update/update_signature.h"

#ifndef ORVANE_UPDATE_KEY_HEX
#define ORVANE_UPDATE_KEY_HEX ""
#endif

namespace {

// A constant: the launcher has no run-time initialisation of its own.
constexpr std::optional<UpdateKey> LAUNCHER_UPDATE_KEY = ParseUpdateKeyHex(ORVANE_UPDATE_KEY_HEX);

// Every rename reaches the disk before the next step, so that a power cut finds one of the
// states that the next start repairs.
constexpr DWORD DURABLE_MOVE = MOVEFILE_WRITE_THROUGH;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool ReadWhole(HANDLE file, std::vector<std::uint8_t>& bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > MAX_UPDATE_SIZE) return false;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr) || read == 0)
      return false;
    done += read;
  }
  return true;
}

// Opened for reading and shared for reading and deleting but never for writing: from the check
// to the rename no one can change the bytes that were checked, while the rename itself may go on.
FileHandle OpenUpdate(const std::wstring& path) {
  return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

void DiscardUpdate(FileHandle& update, const ProgramFiles& files) {
  update.Reset();
  DeleteFileW(files.update.c_str());
}

}  // namespace

std::optional<ProgramFiles> FindProgramFiles() {
  const std::optional<std::wstring> modulePath = OwnModulePath();
  const std::optional<std::wstring> directory = modulePath ? ProgramDirectory(*modulePath) : std::nullopt;
  if (!directory) return std::nullopt;
  return ProgramFiles{ExtendedLengthPath(ProgramFilePath(*directory, LIBRARY_FILE_NAME_W)),
                      ExtendedLengthPath(ProgramFilePath(*directory, UPDATE_FILE_NAME_W)),
                      ExtendedLengthPath(ProgramFilePath(*directory, BACKUP_FILE_NAME_W))};
}

bool IsVerifiedUpdate(HANDLE file) {
  if (!LAUNCHER_UPDATE_KEY) return false;
  std::vector<std::uint8_t> bytes;
  if (!ReadWhole(file, bytes)) return false;
  if (CheckUpdateSignature(bytes, *LAUNCHER_UPDATE_KEY) != SignatureCheck::Valid) return false;
  return IsPeLibraryWithExport(bytes, RUNNING_MACHINE, LIBRARY_EXPORT);
}

bool SwapInUpdate(const ProgramFiles& files, bool announced) {
  FileHandle update = OpenUpdate(files.update);
  if (!update) {
    // Missing, or held open for writing by someone else: nothing to take.
    if (announced) ShowLauncherMessage(MOVE_FAILED_TEXT);
    return false;
  }
  if (!IsVerifiedUpdate(update.Get())) {
    DiscardUpdate(update, files);
    return false;
  }

  // The old library is moved aside rather than deleted, so that it can take its name back when
  // the new one cannot run. A held library refuses the move just as it would refuse a delete,
  // and then the update cannot take its name either.
  const bool setAside =
      MoveFileExW(files.library.c_str(), files.backup.c_str(), MOVEFILE_REPLACE_EXISTING | DURABLE_MOVE) != 0;
  if (!setAside && Exists(files.library)) {
    ShowLauncherMessage(DELETE_FAILED_TEXT);
    ShowLauncherMessage(MOVE_FAILED_TEXT);
    DiscardUpdate(update, files);
    return false;
  }
  if (!MoveFileExW(files.update.c_str(), files.library.c_str(), DURABLE_MOVE)) {
    if (setAside) MoveFileExW(files.backup.c_str(), files.library.c_str(), DURABLE_MOVE);
    ShowLauncherMessage(MOVE_FAILED_TEXT);
    DiscardUpdate(update, files);
    return false;
  }
  return true;
}

bool RestoreBackup(const ProgramFiles& files) {
  return MoveFileExW(files.backup.c_str(), files.library.c_str(), MOVEFILE_REPLACE_EXISTING | DURABLE_MOVE) != 0;
}

void RepairProgramFolder(const ProgramFiles& files) {
  const bool library = Exists(files.library);
  const bool backup = Exists(files.backup);
  if (library && backup) {
    // Cut off after the update took the name: that library must load before anything else
    // changes, or the backup takes its name back. An update beside them waits for another day.
    DeleteFileW(files.update.c_str());
    return;
  }
  // Cut off between the two renames: the old library comes back first, so that whatever the
  // update turns out to be, there is a library to run.
  if (backup) RestoreBackup(files);
  if (Exists(files.update)) SwapInUpdate(files, false);
}

void RefuseUpdate() {
  wchar_t version[64] = {};
  const DWORD versionLength = GetEnvironmentVariableW(UPDATE_VERSION_VARIABLE, version, 64);
  if (versionLength >= 64) version[0] = L'\0';  // not a version the library would write: refuse all

  std::wstring refused;
  const DWORD needed = GetEnvironmentVariableW(REFUSED_UPDATES_VARIABLE, nullptr, 0);
  if (needed > 0) {
    refused.resize(needed);
    const DWORD length = GetEnvironmentVariableW(REFUSED_UPDATES_VARIABLE, refused.data(), needed);
    refused.resize(length < needed ? length : 0);
  }
  SetEnvironmentVariableW(REFUSED_UPDATES_VARIABLE, WithRefusedUpdate(refused, version).c_str());
  SetEnvironmentVariableW(UPDATE_VERSION_VARIABLE, nullptr);
}

void ConfirmLibrary(const ProgramFiles& files) {
  DeleteFileW(files.backup.c_str());
  SetEnvironmentVariableW(UPDATE_VERSION_VARIABLE, nullptr);
}
