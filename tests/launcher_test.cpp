// orvane.exe end to end: real processes in a temporary program folder, with test libraries that
// do what a script file tells them, and the launcher's message boxes answered from outside.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "handle.h"
#include "launcher.h"
#include "launcher_harness.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string FIRST_RUN = "first arguments-right";
const std::string SECOND_RUN = "second arguments-right";
using Texts = std::vector<std::string>;
using Names = std::set<std::string>;

// A run after the launcher refused updates, as the library sees the list.
std::string RefusedRun(const std::string& run, const std::string& refused) { return run + " refused=" + refused; }

// The launcher takes only updates signed with the build's key: a build that names a release key
// cannot sign the test libraries.
#define SKIP_UNLESS_THE_BUILD_SIGNS() \
  if (!ORVANE_BUILD_SIGNS_LIBRARIES)  \
  GTEST_SKIP() << "this build names a release key: its test libraries are not signed, so no update is taken"

TEST(Launcher, ExitEventEndsTheLauncherWithCodeZero) {
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.WriteScript({"exit"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(folder.Runs(), Texts{FIRST_RUN});
  EXPECT_EQ(launcher.Messages(), Texts{});
}

TEST(Launcher, SecondInstanceEndsAtOnceShowingNothing) {
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.WriteScript({"wait-release"});

  LauncherProcess first(folder);
  ASSERT_TRUE(folder.WaitForRuns(1));
  LauncherProcess second(folder);
  EXPECT_EQ(second.WaitForExit(), 0u);
  EXPECT_EQ(second.Messages(), Texts{});
  EXPECT_EQ(folder.Runs(), Texts{FIRST_RUN});  // the second one never loaded the library

  folder.WriteText("release", "");
  EXPECT_EQ(first.WaitForExit(), 0u);
  EXPECT_EQ(folder.Runs(), Texts{FIRST_RUN});
  EXPECT_EQ(first.Messages(), Texts{});
}

TEST(Launcher, UpdateReplacesTheLibraryAndRunsTheNewOne) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_SECOND_LIBRARY, "update-source.dll");
  folder.WriteScript({"update", "exit"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, SECOND_RUN}));
  EXPECT_EQ(launcher.Messages(), Texts{});
  EXPECT_FALSE(folder.Has(UPDATE_FILE_NAME));
  EXPECT_FALSE(folder.Has(BACKUP_FILE_NAME));
  EXPECT_EQ(ReadFileBytes(folder.File(LIBRARY_FILE_NAME)), ReadFileBytes(ORVANE_SECOND_LIBRARY));
}

TEST(Launcher, UpdatesFollowEachOtherInOneProcess) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_FIRST_LIBRARY, "update-source.dll");
  folder.WriteScript({"update", "update", "exit"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, FIRST_RUN, FIRST_RUN}));
  EXPECT_EQ(launcher.Messages(), Texts{});
  EXPECT_FALSE(folder.Has(UPDATE_FILE_NAME));
  EXPECT_FALSE(folder.Has(BACKUP_FILE_NAME));
}

TEST(Launcher, LibraryHeldOpenShowsBothMessagesAndRunsTheOldLibraryAgain) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_SECOND_LIBRARY, "update-source.dll");
  folder.WriteScript({"update", "exit"});
  // Held without FILE_SHARE_DELETE, as a virus scanner or a backup program would: neither a delete
  // nor a rename may touch it, under Wine as on Windows, while loading it stays possible.
  const FileHandle held(CreateFileA(folder.File(LIBRARY_FILE_NAME).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), (Texts{DELETE_FAILED_TEXT, MOVE_FAILED_TEXT}));
  // The library named no version, so the launcher refuses every update for the rest of the run.
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, RefusedRun(FIRST_RUN, "*")}));
  EXPECT_EQ(ReadFileBytes(folder.File(LIBRARY_FILE_NAME)), ReadFileBytes(ORVANE_FIRST_LIBRARY));
  EXPECT_FALSE(folder.Has(BACKUP_FILE_NAME));
  EXPECT_FALSE(folder.Has(UPDATE_FILE_NAME));
}

// The library offers the same update at every run until the launcher refuses it: with the library
// held, the swap fails once, the user sees the two messages once, and the next run of the library
// finds that version refused instead of fetching it again.
TEST(Launcher, HeldLibraryShowsTheTwoMessagesOnceAndTheSameUpdateIsNotTakenAgain) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_SECOND_LIBRARY, "update-source.dll");
  folder.WriteScript({"offer 1.2", "offer 1.2", "offer 1.2", "offer 1.2"});
  const FileHandle held(CreateFileA(folder.File(LIBRARY_FILE_NAME).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  const Texts messages = launcher.Messages();
  const Texts runs = folder.Runs();
  std::printf("held library: %zu runs of the library, %zu messages\n", runs.size(), messages.size());
  EXPECT_EQ(messages, (Texts{DELETE_FAILED_TEXT, MOVE_FAILED_TEXT}));
  EXPECT_EQ(runs, (Texts{FIRST_RUN, RefusedRun(FIRST_RUN, "1.2")}));
  EXPECT_FALSE(folder.Has(UPDATE_FILE_NAME));
  EXPECT_FALSE(folder.Has(BACKUP_FILE_NAME));
}

TEST(Launcher, MissingUpdateShowsTheMoveMessageAndRunsTheOldLibrary) {
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.WriteScript({"signal-update", "exit"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{MOVE_FAILED_TEXT});
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, RefusedRun(FIRST_RUN, "*")}));
  EXPECT_EQ(ReadFileBytes(folder.File(LIBRARY_FILE_NAME)), ReadFileBytes(ORVANE_FIRST_LIBRARY));
  EXPECT_FALSE(folder.Has(BACKUP_FILE_NAME));
}

// Whatever the library left under the update's name is checked once more before it may become the
// library: the launcher's own check, with the key compiled into it, in case the file was changed
// after the library checked it or the library never checked it at all.
TEST(Launcher, UpdateFailingItsChecksIsDeletedAndTheOldLibraryRunsQuietly) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const auto signed_ = ReadFileBytes(ORVANE_SECOND_LIBRARY);
  const auto noExport = ReadFileBytes(ORVANE_NOEXPORT_LIBRARY);
  ASSERT_TRUE(signed_ && noExport);
  ASSERT_GT(signed_->size(), 1000u);
  using Bytes = std::vector<std::uint8_t>;
  const auto first = [&](std::size_t count) { return Bytes(signed_->begin(), signed_->begin() + count); };
  Bytes changed = *signed_;
  changed[changed.size() / 2] ^= 0x01;
  Bytes otherBlock = *signed_;
  otherBlock[otherBlock.size() - 1] ^= 0x01;  // the signature's last byte
  struct Case {
    const char* name;
    Bytes update;
  } cases[] = {
      {"empty", {}},
      {"unsigned", first(signed_->size() - 80)},
      {"cut at the start", first(100)},
      {"cut in the middle", first(signed_->size() / 2)},
      {"cut one byte before the end", first(signed_->size() - 1)},
      {"one byte of the library changed", changed},
      {"one byte of the signature changed", otherBlock},
      {"signed, but without the export", *noExport},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramFolder folder;
    folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
    folder.PlaceBytes(c.update, "update-source.dll");
    folder.WriteScript({"update 1.2", "exit"});

    LauncherProcess launcher(folder);
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    EXPECT_EQ(launcher.Messages(), Texts{});
    EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, RefusedRun(FIRST_RUN, "1.2")}));
    EXPECT_EQ(ReadFileBytes(folder.File(LIBRARY_FILE_NAME)), ReadFileBytes(ORVANE_FIRST_LIBRARY));
    EXPECT_EQ(folder.Names(), (Names{LIBRARY_FILE_NAME, "orvane.exe", "runs.log", "script.txt", "update-source.dll"}));
  }
}

// A download still writing the update (a second refresh, say) must not see its file become the
// library: the launcher reads the file only with writers shut out, so while one holds it, the
// update is not taken at all.
TEST(Launcher, UpdateStillOpenForWritingIsNotTaken) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_SECOND_LIBRARY, "update-source.dll");
  folder.WriteScript({"update 1.2", "exit"});
  // Shared as loosely as a writer can be, so that the library can still copy the update in.
  const FileHandle writer(CreateFileA(folder.File(UPDATE_FILE_NAME).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW, 0,
                                      nullptr));
  ASSERT_TRUE(writer);

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{MOVE_FAILED_TEXT});
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, RefusedRun(FIRST_RUN, "1.2")}));
  EXPECT_EQ(ReadFileBytes(folder.File(LIBRARY_FILE_NAME)), ReadFileBytes(ORVANE_FIRST_LIBRARY));
  EXPECT_FALSE(folder.Has(BACKUP_FILE_NAME));
}

// A signed library that does not load here (built for a newer system, say): the old library takes
// its name back from the backup and runs, and that update is refused for the rest of the run.
TEST(Launcher, UpdateThatDoesNotLoadGivesWayToTheBackup) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_UNLOADABLE_LIBRARY, "update-source.dll");
  folder.WriteScript({"offer 1.2", "offer 1.2", "offer 1.2"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{});
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, RefusedRun(FIRST_RUN, "1.2")}));
  EXPECT_EQ(ReadFileBytes(folder.File(LIBRARY_FILE_NAME)), ReadFileBytes(ORVANE_FIRST_LIBRARY));
  EXPECT_EQ(folder.Names(), (Names{LIBRARY_FILE_NAME, "orvane.exe", "runs.log", "script.txt", "update-source.dll"}));
}

// "\u0218" (S with a comma below) is in no ANSI code page of Windows: a path built from ANSI
// functions would hold a '?' there and name no file.
TEST(Launcher, FolderNamedOutsideTheAnsiCodePageTakesAnUpdate) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const ProgramFolder folder(fs::path(L"\u0218tefan Orvane"));
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_SECOND_LIBRARY, "update-source.dll");
  folder.WriteScript({"update 1.2", "exit"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{});
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, SECOND_RUN}));
  EXPECT_EQ(folder.Bytes(LIBRARY_FILE_NAME), ReadFileBytes(ORVANE_SECOND_LIBRARY));
  EXPECT_EQ(folder.Names(), (Names{LIBRARY_FILE_NAME, "orvane.exe", "runs.log", "script.txt", "update-source.dll"}));
}

TEST(Launcher, LeftoverBackupDoesNotStopTheSwap) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_SECOND_LIBRARY, "update-source.dll");
  folder.WriteText(BACKUP_FILE_NAME, "left by a power cut");
  folder.WriteScript({"update", "exit"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{});
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, SECOND_RUN}));
  EXPECT_FALSE(folder.Has(BACKUP_FILE_NAME));
}

TEST(Launcher, UnloadableLibraryIsReportedAndTheLauncherEnds) {
  struct Case {
    const char* name;
    const char* library;  // copied in as the library; none when null
    const char* bytes;    // or written as the library
  };
  const Case cases[] = {
      {"no library", nullptr, nullptr},
      {"not a library", nullptr, "MZ but nothing else"},
      {"library without the export", ORVANE_NOEXPORT_LIBRARY, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramFolder folder;
    if (c.library) folder.Place(c.library, LIBRARY_FILE_NAME);
    if (c.bytes) folder.WriteText(LIBRARY_FILE_NAME, c.bytes);

    LauncherProcess launcher(folder);
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    EXPECT_EQ(launcher.Messages(), Texts{LOAD_FAILED_TEXT});
  }
}

// PATH for the launchers started while it lives, put back afterwards.
class ScopedSearchPath {
 public:
  explicit ScopedSearchPath(const std::string& first) {
    char old[32768] = {};
    const DWORD length = GetEnvironmentVariableA("PATH", old, sizeof old);
    m_old = length > 0 && length < sizeof old ? std::optional<std::string>(old) : std::nullopt;
    SetEnvironmentVariableA("PATH", (first + (m_old ? ";" + *m_old : "")).c_str());
  }
  ~ScopedSearchPath() { SetEnvironmentVariableA("PATH", m_old ? m_old->c_str() : nullptr); }
  ScopedSearchPath(const ScopedSearchPath&) = delete;
  ScopedSearchPath& operator=(const ScopedSearchPath&) = delete;

 private:
  std::optional<std::string> m_old;
};

TEST(Launcher, LibraryOutsideTheProgramFolderIsNeverLoaded) {
  const ProgramFolder folder;
  const ProgramFolder onThePath("on-the-path");
  onThePath.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  onThePath.WriteScript({"exit"});
  // The launcher starts in the folder above its own: the current folder of the old search order.
  folder.Place(ORVANE_FIRST_LIBRARY, "../" + std::string(LIBRARY_FILE_NAME));
  const ScopedSearchPath path(onThePath.Path().string());

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{LOAD_FAILED_TEXT});
  EXPECT_EQ(onThePath.Runs(), Texts{});
  EXPECT_FALSE(fs::exists(folder.Root() / "runs.log"));
}

// Before the launcher checked updates itself, such an update became the library, which then could
// not be run: "Cannot load" and the end of the program.
TEST(Launcher, UpdateWithoutTheExportIsRefusedAndTheOldLibraryRunsAgain) {
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_NOEXPORT_LIBRARY, "update-source.dll");
  folder.WriteScript({"update"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{});
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, RefusedRun(FIRST_RUN, "*")}));
  EXPECT_EQ(ReadFileBytes(folder.File(LIBRARY_FILE_NAME)), ReadFileBytes(ORVANE_FIRST_LIBRARY));
  EXPECT_FALSE(folder.Has(UPDATE_FILE_NAME));
}

TEST(Launcher, LibraryReturningWithoutSignalEndsTheLauncherQuietly) {
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.WriteScript({"return"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{});
  EXPECT_EQ(folder.Runs(), Texts{FIRST_RUN});
}

TEST(Launcher, InstanceNameTakenByAnotherKindOfObjectEndsTheLauncherQuietly) {
  const ProgramFolder folder;
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.WriteScript({"exit"});
  const KernelHandle squatter(CreateMutexA(nullptr, FALSE, INSTANCE_EVENT_NAME));
  ASSERT_TRUE(squatter);

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{});
  EXPECT_EQ(folder.Runs(), Texts{});
}

// The longest program path that the system still starts (Windows without long-path support and
// Wine alike refuse to start a program from a longer one): the program's own path no longer fits
// 255 characters, and the library, update and backup paths built from it pass MAX_PATH.
TEST(Launcher, ProgramPathLongerThan255CharactersWorks) {
  SKIP_UNLESS_THE_BUILD_SIGNS();
  const ProgramFolder folder(ProgramPathLength{MAX_PATH - 1});
  ASSERT_EQ(folder.File("orvane.exe").size(), static_cast<std::size_t>(MAX_PATH - 1));
  folder.Place(ORVANE_FIRST_LIBRARY, LIBRARY_FILE_NAME);
  folder.Place(ORVANE_SECOND_LIBRARY, "update-source.dll");
  folder.WriteScript({"update", "exit"});

  LauncherProcess launcher(folder);
  EXPECT_EQ(launcher.WaitForExit(), 0u);
  EXPECT_EQ(launcher.Messages(), Texts{});
  EXPECT_EQ(folder.Runs(), (Texts{FIRST_RUN, SECOND_RUN}));
  EXPECT_FALSE(folder.Has(UPDATE_FILE_NAME));
  EXPECT_FALSE(folder.Has(BACKUP_FILE_NAME));
  EXPECT_EQ(ReadFileBytes(folder.File(LIBRARY_FILE_NAME)), ReadFileBytes(ORVANE_SECOND_LIBRARY));
}

// What the program file itself promises: a GUI program (no console flashes up), that needs no
// runtime library beside it. (Its few resources are checked with the library's.)
TEST(LauncherImage, IsAGuiProgramWithoutRuntimeLibraries) {
  const auto image = ReadFileBytes(ORVANE_LAUNCHER_PROGRAM);
  ASSERT_TRUE(image);
  ASSERT_GE(image->size(), sizeof(IMAGE_DOS_HEADER));
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image->data(), sizeof dos);
  ASSERT_LE(static_cast<std::size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS), image->size());
  IMAGE_NT_HEADERS nt;
  std::memcpy(&nt, image->data() + dos.e_lfanew, sizeof nt);
  ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

  // The imported libraries, read from the loaded image, where addresses are simple offsets.
  const HMODULE module = LoadLibraryExA(ORVANE_LAUNCHER_PROGRAM, nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(module, nullptr);
  const auto* base = reinterpret_cast<const std::uint8_t*>(module);
  const IMAGE_DATA_DIRECTORY imports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::set<std::string> names;
  for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
       ++entry) {
    std::string name(reinterpret_cast<const char*>(base + entry->Name));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    names.insert(name);
  }
  FreeLibrary(module);
  // The C runtime of the system itself, no libstdc++, libgcc or winpthread beside the program.
  EXPECT_EQ(names, (std::set<std::string>{"KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"}));
}

// The main thread's wait, driven with real events and threads in this process.
TEST(LauncherWait, ReportsWhatEndedTheRun) {
  struct Case {
    const char* name;
    bool exitSignalled;
    bool updateSignalled;
    bool loaderEnded;
    LibraryOutcome expected;
  };
  const Case cases[] = {
      {"exit", true, false, false, LibraryOutcome::Exit},
      {"update", false, true, false, LibraryOutcome::UpdateReady},
      {"exit wins over update", true, true, false, LibraryOutcome::Exit},
      {"signal seen although the loader ended", false, true, true, LibraryOutcome::UpdateReady},
      {"loader ended without a signal", false, false, true, LibraryOutcome::LoaderEnded},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const KernelHandle exitEvent(CreateEventA(nullptr, FALSE, c.exitSignalled, nullptr));
    const KernelHandle updateEvent(CreateEventA(nullptr, FALSE, c.updateSignalled, nullptr));
    const KernelHandle loaderThread(CreateEventA(nullptr, TRUE, c.loaderEnded, nullptr));  // stands in for a thread
    const HANDLE events[2] = {exitEvent.Get(), updateEvent.Get()};
    EXPECT_EQ(WaitForLibrary(events, loaderThread.Get()), c.expected);
  }
}

TEST(LauncherWait, NoticesTheEndOfARealLoaderThread) {
  const KernelHandle exitEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  const KernelHandle updateEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  const KernelHandle thread(CreateThread(
      nullptr, 0,
      [](void*) -> DWORD {
        Sleep(50);
        return LOADER_FAILED;
      },
      nullptr, 0, nullptr));
  ASSERT_TRUE(thread);
  const HANDLE events[2] = {exitEvent.Get(), updateEvent.Get()};
  EXPECT_EQ(WaitForLibrary(events, thread.Get()), LibraryOutcome::LoaderEnded);
}

TEST(LauncherWait, InvalidHandleFailsAtOnceInsteadOfWaiting) {
  const KernelHandle exitEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  const HANDLE events[2] = {exitEvent.Get(), nullptr};  // an event that could not be made
  const KernelHandle thread(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(WaitForLibrary(events, thread.Get()), LibraryOutcome::WaitFailed);
}

TEST(LauncherPath, OwnModulePathIsTheWholePathOfThisProgram) {
  const auto path = OwnModulePath();
  ASSERT_TRUE(path);
  wchar_t expected[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, expected, MAX_PATH), 0u);
  EXPECT_EQ(*path, expected);
}

}  // namespace
