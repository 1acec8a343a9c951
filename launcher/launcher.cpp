#include "launcher.h"

#include "handle.h"
#include "library_search.h"
#include "update_swap.h"

namespace {

using RunBrennikDllEntry = void(__cdecl*)(HINSTANCE launcherInstance, HMODULE libraryModule, HANDLE* launcherEvents);

// GetModuleFileNameW cuts a path that does not fit; no file system takes one past this length.
constexpr DWORD MAXIMUM_MODULE_PATH = 32768;

// Shared by the main thread and one loader thread at a time; the main thread reads the module
// only after the loader thread has ended.
struct LibraryRun {
  HINSTANCE instance = nullptr;
  HANDLE* launcherEvents = nullptr;
  const ProgramFiles* files = nullptr;
  HMODULE module = nullptr;
};

DWORD WINAPI LoaderThread(void* parameter) {
  LibraryRun& run = *static_cast<LibraryRun*>(parameter);
  // A broken file must end in our own message, not in a system error box.
  DWORD previousMode = 0;
  const bool modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode) != 0;
  // By its full path, the one file of the program folder that is ever loaded; what it imports
  // comes from System32.
  run.module = LoadLibraryExW(run.files->library.c_str(), nullptr, DependencySearchFlags());
  if (modeSet) SetThreadErrorMode(previousMode, nullptr);
  if (!run.module) return LOADER_FAILED;

  const FARPROC export_ = GetProcAddress(run.module, LIBRARY_EXPORT);
  if (!export_) return LOADER_FAILED;
  ConfirmLibrary(*run.files);
  const auto entry = reinterpret_cast<RunBrennikDllEntry>(reinterpret_cast<void*>(export_));
  entry(run.instance, run.module, run.launcherEvents);
  return 0;
}

void FreeLibraryOf(LibraryRun& run) {
  if (run.module) FreeLibrary(run.module);
  run.module = nullptr;
}

}  // namespace

void ShowLauncherMessage(const char* text) { MessageBoxA(nullptr, text, MESSAGE_CAPTION, MB_OK); }

LibraryOutcome WaitForLibrary(const HANDLE* launcherEvents, HANDLE loaderThread) {
  // The events come first: with several objects signalled the lowest index is reported, and the
  // library signals before it returns.
  const HANDLE watched[3] = {launcherEvents[0], launcherEvents[1], loaderThread};
  switch (WaitForMultipleObjects(3, watched, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
      return LibraryOutcome::Exit;
    case WAIT_OBJECT_0 + 1:
      return LibraryOutcome::UpdateReady;
    case WAIT_OBJECT_0 + 2:
      return LibraryOutcome::LoaderEnded;
    default:
      return LibraryOutcome::WaitFailed;
  }
}

std::optional<std::wstring> OwnModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::nullopt;
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    // A full buffer means a cut path (older systems do not even report an error for it).
    if (path.size() >= MAXIMUM_MODULE_PATH) return std::nullopt;
    path.resize(path.size() * 2);
  }
}

int RunLauncher(HINSTANCE instance) {
  const KernelHandle exitEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  const KernelHandle updateEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!exitEvent || !updateEvent) return 0;
  HANDLE launcherEvents[2] = {exitEvent.Get(), updateEvent.Get()};

  // Never signalled nor waited on: its existence marks a running instance. When it cannot be
  // made (the name taken by an object of another kind) there is no guarantee of one instance,
  // so the launcher ends as a second instance would.
  KernelHandle instanceEvent(CreateEventA(nullptr, TRUE, FALSE, INSTANCE_EVENT_NAME));
  const DWORD instanceEventError = GetLastError();
  if (!instanceEvent || instanceEventError == ERROR_ALREADY_EXISTS) return 0;

  const std::optional<ProgramFiles> files = FindProgramFiles();
  if (!files) {
    ShowLauncherMessage(LOAD_FAILED_TEXT);
    return 0;
  }
  RestrictLibrarySearch();
  RepairProgramFolder(*files);

  LibraryRun run;
  run.instance = instance;
  run.launcherEvents = launcherEvents;
  run.files = &*files;
  for (;;) {
    DWORD loaderThreadId = 0;
    const KernelHandle loaderThread(CreateThread(nullptr, 0, LoaderThread, &run, 0, &loaderThreadId));
    if (!loaderThread) {
      ShowLauncherMessage(LOAD_FAILED_TEXT);
      break;
    }
    const LibraryOutcome outcome = WaitForLibrary(launcherEvents, loaderThread.Get());
    // The library is freed only after its thread has ended; when even that cannot be waited for,
    // the process ends with the library still loaded rather than pulling it from under the thread.
    if (WaitForSingleObject(loaderThread.Get(), INFINITE) != WAIT_OBJECT_0) return 0;

    if (outcome == LibraryOutcome::UpdateReady) {
      FreeLibraryOf(run);
      if (!SwapInUpdate(*files)) RefuseUpdate();
      continue;
    }
    if (outcome == LibraryOutcome::LoaderEnded) {
      DWORD loaderExitCode = 0;
      if (GetExitCodeThread(loaderThread.Get(), &loaderExitCode) && loaderExitCode == LOADER_FAILED) {
        // A new library that cannot run on this system gives way to the one it replaced, and
        // the same update is not taken again.
        FreeLibraryOf(run);
        if (RestoreBackup(*files)) {
          RefuseUpdate();
          continue;
        }
        // Neither event will come: tell the user instead of waiting unseen for ever.
        ShowLauncherMessage(LOAD_FAILED_TEXT);
      }
    }
    break;
  }
  instanceEvent.Reset();
  FreeLibraryOf(run);
  return 0;
}
