// The swap as a crash or a hostile folder leaves it: orvane.exe with the real library in a
// program folder laid out as each such state, started and looked at from outside.
// clang-format off
#include <winsock2.h>  // before windows.h, which the other headers bring
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fake_rates_service.h"
#include "launcher.h"
#include "launcher_harness.h"
#include "net/protocol.h"
#include "program_window.h"
#include "update/update_signature.h"

namespace {

// Wine's library overrides for orvane.exe in the registry of the prefix, removed afterwards.
class ScopedWineOverrides {
 public:
  ScopedWineOverrides(const std::vector<std::string>& libraries, const char* order) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, OVERRIDES_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot write Wine's overrides";
      return;
    }
    for (const std::string& library : libraries)
      RegSetValueExA(key, library.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order),
                     static_cast<DWORD>(std::strlen(order) + 1));
    RegCloseKey(key);
  }
  ~ScopedWineOverrides() { RegDeleteTreeA(HKEY_CURRENT_USER, APPLICATION_KEY); }
  ScopedWineOverrides(const ScopedWineOverrides&) = delete;
  ScopedWineOverrides& operator=(const ScopedWineOverrides&) = delete;

 private:
  static constexpr char APPLICATION_KEY[] = "Software\\Wine\\AppDefaults\\orvane.exe";
  static constexpr char OVERRIDES_KEY[] = "Software\\Wine\\AppDefaults\\orvane.exe\\DllOverrides";
};

using Bytes = std::vector<std::uint8_t>;
using Names = std::set<std::string>;

class UpdateSwapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software");
    const auto library = ReadFileBytes(ORVANE_LIBRARY);
    const auto next = ReadFileBytes(ORVANE_NEXT_LIBRARY);
    ASSERT_TRUE(library && next);
    oldLibrary = *library;
    newLibrary = *next;
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software"); }

  // Ends a program whose window came up, as a user does.
  static void Exit(LauncherProcess& program, HWND window) {
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(program.WaitForExit(), 0u);
    EXPECT_EQ(program.Messages(), Texts{});
  }

  Bytes oldLibrary;
  Bytes newLibrary;
  // Holds the compiled-in port, so that no other test's service offers these programs anything;
  // every connection is closed without a word and each library keeps to itself.
  FakeRatesService service{RATES_PORT};
};

// Every combination of the three files that a swap cut short (or a leftover of older versions)
// can leave. The new library is the signed 1.2 build; the bad update is it without its
// signature, the truncated one its first half; a library of zeros is what a power cut can leave
// of a file that never reached the disk.
TEST_F(UpdateSwapTest, EveryStateACrashLeavesEndsWithOneLibraryThatRuns) {
  if (!ORVANE_BUILD_SIGNS_LIBRARIES) GTEST_SKIP() << "this build names a release key: no update can be signed here";
  const Bytes unsignedUpdate(newLibrary.begin(), newLibrary.end() - SIGNATURE_BLOCK_BYTES);
  const Bytes truncatedUpdate(newLibrary.begin(), newLibrary.begin() + newLibrary.size() / 2);
  const Bytes zeros(newLibrary.size(), 0);
  const Bytes none;
  enum class Runs { Old, New, Nothing };
  struct Case {
    const char* name;
    const Bytes& library;
    const Bytes& backup;
    const Bytes& update;
    Runs runs;
  } cases[] = {
      {"library alone", oldLibrary, none, none, Runs::Old},
      {"library and a good update", oldLibrary, none, newLibrary, Runs::New},
      {"library and an unsigned update", oldLibrary, none, unsignedUpdate, Runs::Old},
      {"library and a truncated update", oldLibrary, none, truncatedUpdate, Runs::Old},
      {"backup alone", none, oldLibrary, none, Runs::Old},
      {"backup and a good update", none, oldLibrary, newLibrary, Runs::New},
      {"backup and an unsigned update", none, oldLibrary, unsignedUpdate, Runs::Old},
      {"backup and a truncated update", none, oldLibrary, truncatedUpdate, Runs::Old},
      {"new library and backup", newLibrary, oldLibrary, none, Runs::New},
      {"new library, backup and a good update", newLibrary, oldLibrary, newLibrary, Runs::New},
      {"new library, backup and an unsigned update", newLibrary, oldLibrary, unsignedUpdate, Runs::New},
      {"new library of zeros and backup", zeros, oldLibrary, none, Runs::Old},
      {"new library of zeros, backup and a truncated update", zeros, oldLibrary, truncatedUpdate, Runs::Old},
      {"good update alone", none, none, newLibrary, Runs::New},
      {"truncated update alone", none, none, truncatedUpdate, Runs::Nothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramFolder folder;
    if (!c.library.empty()) folder.PlaceBytes(c.library, LIBRARY_FILE_NAME);
    if (!c.backup.empty()) folder.PlaceBytes(c.backup, BACKUP_FILE_NAME);
    if (!c.update.empty()) folder.PlaceBytes(c.update, UPDATE_FILE_NAME);

    LauncherProcess program(folder);
    if (c.runs == Runs::Nothing) {
      // No library was ever there; the update that could have been one is not taken unchecked.
      EXPECT_EQ(program.WaitForExit(), 0u);
      EXPECT_EQ(program.Messages(), Texts{LOAD_FAILED_TEXT});
      EXPECT_EQ(folder.Names(), Names{"orvane.exe"});
      continue;
    }
    HWND window = WaitForRatesWindow(program.ProcessId());
    const auto library = folder.Bytes(LIBRARY_FILE_NAME);
    const Names names = folder.Names();
    std::printf("%s: window %s, library %s, %zu files\n", c.name, window ? "up" : "missing",
                !library                 ? "none"
                : *library == newLibrary ? "new"
                : *library == oldLibrary ? "old"
                                         : "other",
                names.size());
    EXPECT_NE(window, nullptr);
    EXPECT_EQ(library, c.runs == Runs::New ? newLibrary : oldLibrary);
    // The backup goes once the library has loaded, on the loader thread, before the window.
    EXPECT_EQ(names, (Names{LIBRARY_FILE_NAME, "orvane.exe"}));
    if (window) Exit(program, window);
  }
}

// bcrypt, comctl32 and windowscodecs are no KnownDLLs on every Windows: unless the launcher keeps
// the program folder out of the search, copies planted beside orvane.exe are what the library
// gets. Each copy marks the folder when it is loaded.
TEST_F(UpdateSwapTest, SystemLibrariesPlantedBesideTheProgramAreNeverLoaded) {
  const ProgramFolder folder;
  folder.PlaceBytes(oldLibrary, LIBRARY_FILE_NAME);
  const std::vector<std::string> planted = {"bcrypt", "comctl32", "windowscodecs"};
  for (const std::string& name : planted)
    folder.Place(std::string(ORVANE_PLANTED_LIBRARIES) + "/" + name + ".dll", name + ".dll");
  {
    // The marker itself works: a copy loaded on purpose, under a name that Wine has no library
    // of its own for, leaves it.
    const ProgramFolder control("control");
    control.Place(std::string(ORVANE_PLANTED_LIBRARIES) + "/comctl32.dll", "marker-check.dll");
    const HMODULE loaded = LoadLibraryExW(control.FilePath("marker-check.dll").c_str(), nullptr, 0);
    ASSERT_NE(loaded, nullptr);
    FreeLibrary(loaded);
    ASSERT_TRUE(control.Has("comctl32.loaded"));
  }
  // Wine takes its own builtin copy of a system library whatever the search finds, unless told
  // to prefer a native one: then, as Windows does for libraries that are no KnownDLLs, it loads
  // the first copy that the search finds.
  const ScopedWineOverrides overrides(planted, "native,builtin");

  LauncherProcess program(folder);
  HWND window = WaitForRatesWindow(program.ProcessId());
  // What was loaded is known once the window is up; the program is ended before it is judged.
  const bool windowCame = window != nullptr;
  if (window) {
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    program.WaitForExit();
  }
  for (const std::string& name : planted) {
    const bool loaded = folder.Has(name + ".loaded");
    std::printf("planted %s.dll: %s\n", name.c_str(), loaded ? "loaded" : "not loaded");
    EXPECT_FALSE(loaded) << name;
  }
  EXPECT_TRUE(windowCame);
}

}  // namespace
