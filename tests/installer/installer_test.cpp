// The release's installer, run as a user runs it, in a prefix made for the test alone (see
// in-fresh-prefix): what it writes is read back from outside, with reg.exe and the file system,
// and the installed program runs against the fake rates service on its compiled-in port.
// clang-format off
#include <winsock2.h>  // before windows.h, which the other headers bring
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_rates_service.h"
#include "launcher_harness.h"
#include "net/protocol.h"
#include "program_window.h"
#include "update/update_signature.h"

namespace {

namespace fs = std::filesystem;

const char UNINSTALL_KEY[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane";
const char RUN_KEY[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char COMPANY_KEY[] = "HKCU\\Software\\Brennik Software";
const char SETTINGS_VALUE_KEY[] = "HKCU\\Software\\Brennik Software\\BrennikDll\\LastUpdate";
// What the uninstall steps hand from the first run of this program to the second.
const char UNINSTALL_STEP_NOTE[] = "C:\\uninstall-step.txt";

constexpr DWORD PROGRAM_TIMEOUT_MS = 120000;

// Runs a command line to its end. Its exit code, or nothing when it did not start or end in
// time; with `output`, what it wrote to its standard output.
std::optional<DWORD> RunToEnd(std::string commandLine, std::string* output = nullptr) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (output && !CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return std::nullopt;
  KernelHandle reader(readEnd);
  KernelHandle writer(writeEnd);
  if (reader) SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (writer) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.Get();
    startup.hStdError = writer.Get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, writer ? TRUE : FALSE, 0, nullptr, "C:\\",
                      &startup, &info)) {
    return std::nullopt;
  }
  const KernelHandle process(info.hProcess);
  CloseHandle(info.hThread);
  writer.Reset();  // the child's copy is the only one left: reading ends when the child ends
  if (output) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) output->append(buffer, got);
  }
  if (WaitForSingleObject(process.Get(), PROGRAM_TIMEOUT_MS) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process.Get(), &code);
  return code;
}

// A Windows path for a file of the build (the build passes its own, Unix, paths).
std::string WindowsPath(const std::string& buildPath) { return fs::absolute(buildPath).string(); }

// The files under test: this build's, or a finished release's, named in the environment by the
// check of a release (tools/check-release), whose binaries are signed and whose installer
// carries them.
std::string FileUnderTest(const char* variable, const char* built) {
  const char* named = std::getenv(variable);
  return named && *named ? named : built;
}
std::string Installer() { return FileUnderTest("ORVANE_TEST_INSTALLER", ORVANE_INSTALLER); }
std::string LauncherProgram() { return FileUnderTest("ORVANE_TEST_LAUNCHER", ORVANE_LAUNCHER_PROGRAM); }
std::string Library() { return FileUnderTest("ORVANE_TEST_LIBRARY", ORVANE_LIBRARY); }
// A next library signed with the key that the installed program takes, when there is one.
std::optional<std::string> NextLibrary() {
  const char* named = std::getenv("ORVANE_TEST_NEXT_LIBRARY");
  if (named && *named) return named;
  if (ORVANE_BUILD_SIGNS_LIBRARIES) return ORVANE_NEXT_LIBRARY;
  return std::nullopt;
}

std::optional<DWORD> RunInstaller(const std::string& options) {
  return RunToEnd("\"" + WindowsPath(Installer()) + "\" /S" + (options.empty() ? "" : " " + options));
}

struct RegistryValue {
  std::string type;
  std::string data;
  bool operator==(const RegistryValue&) const = default;
};
using RegistryValues = std::map<std::string, RegistryValue>;

std::ostream& operator<<(std::ostream& out, const RegistryValue& value) {
  return out << value.type << " " << value.data;
}

// The values of one key as `reg query` lists them; nothing when reg finds no such key.
std::optional<RegistryValues> RegQuery(const std::string& key) {
  std::string output;
  const std::optional<DWORD> code = RunToEnd("reg.exe query \"" + key + "\"", &output);
  if (code != 0u) return std::nullopt;
  // Value lines: four spaces, the name, four spaces, the type, four spaces, the data.
  RegistryValues values;
  std::size_t lineStart = 0;
  while (lineStart < output.size()) {
    std::size_t lineEnd = output.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = output.size();
    std::string line = output.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.starts_with("    ")) continue;
    const std::size_t typeStart = line.find("    REG_", 4);
    if (typeStart == std::string::npos) continue;
    const std::size_t dataStart = line.find("    ", typeStart + 4);
    RegistryValue value{
        line.substr(typeStart + 4, dataStart == std::string::npos ? std::string::npos : dataStart - typeStart - 4),
        dataStart == std::string::npos ? "" : line.substr(dataStart + 4)};
    values[line.substr(4, typeStart - 4)] = value;
  }
  return values;
}

std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = fs::path(path).string();
  CoTaskMemFree(path);
  return result;
}

// Where a user's installer puts Orvane when nothing else is asked for.
std::string DefaultFolder() { return KnownFolder(FOLDERID_LocalAppData) + "\\Programs\\Orvane"; }
std::string ShortcutPath() { return KnownFolder(FOLDERID_Programs) + "\\Orvane.lnk"; }

// The program a shortcut starts, or nothing when it cannot be read.
std::optional<std::string> ShortcutTarget(const std::string& shortcut) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return std::nullopt;
  std::optional<std::string> target;
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      wchar_t path[MAX_PATH] = {};
      if (SUCCEEDED(file->Load(fs::path(shortcut).wstring().c_str(), STGM_READ)) &&
          SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0))) {
        target = fs::path(path).string();
      }
      file->Release();
    }
    link->Release();
  }
  CoUninitialize();
  return target;
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// An install's files and entries, as they must be wherever it went.
void ExpectInstalledIn(const std::string& folder) {
  ASSERT_TRUE(fs::is_directory(folder)) << folder;
  EXPECT_EQ(FileNames(folder),
            (std::vector<std::string>{"BrennikDll.dll", "LICENSES.txt", "orvane.exe", "uninstall.exe"}));
  EXPECT_EQ(ReadFileBytes(folder + "\\orvane.exe"), ReadFileBytes(LauncherProgram()));
  EXPECT_EQ(ReadFileBytes(folder + "\\BrennikDll.dll"), ReadFileBytes(Library()));
  EXPECT_EQ(ReadFileBytes(folder + "\\LICENSES.txt"), ReadFileBytes(ORVANE_LICENSES));

  EXPECT_EQ(ShortcutTarget(ShortcutPath()), folder + "\\orvane.exe");

  const std::optional<RegistryValues> entry = RegQuery(UNINSTALL_KEY);
  ASSERT_TRUE(entry);
  const std::string uninstaller = Quoted(folder + "\\uninstall.exe");
  const RegistryValues expected = {
      {"DisplayName", {"REG_SZ", "Orvane"}},
      {"DisplayVersion", {"REG_SZ", ORVANE_DISPLAY_VERSION}},
      {"Publisher", {"REG_SZ", "Brennik Software"}},
      {"DisplayIcon", {"REG_SZ", folder + "\\orvane.exe"}},
      {"InstallLocation", {"REG_SZ", folder}},
      {"UninstallString", {"REG_SZ", uninstaller}},
      {"QuietUninstallString", {"REG_SZ", uninstaller + " /S"}},
      {"NoModify", {"REG_DWORD", "0x1"}},
      {"NoRepair", {"REG_DWORD", "0x1"}},
  };
  RegistryValues entryWithoutSize = *entry;
  entryWithoutSize.erase("EstimatedSize");
  EXPECT_EQ(entryWithoutSize, expected);

  // The size in KB, give or take the rounding.
  ASSERT_TRUE(entry->contains("EstimatedSize"));
  EXPECT_EQ(entry->at("EstimatedSize").type, "REG_DWORD");
  std::uintmax_t bytes = 0;
  for (const auto& file : fs::directory_iterator(folder)) bytes += file.file_size();
  const auto estimatedKb = std::stoull(entry->at("EstimatedSize").data, nullptr, 16);
  EXPECT_LE(estimatedKb, bytes / 1024 + 1);
  EXPECT_GE(estimatedKb, bytes / 1024);
}

std::optional<RegistryValue> RunValue() {
  const std::optional<RegistryValues> run = RegQuery(RUN_KEY);
  if (!run || !run->contains("Orvane")) return std::nullopt;
  return run->at("Orvane");
}

std::optional<std::string> SavedRates() {
  const std::optional<RegistryValues> values = RegQuery(SETTINGS_VALUE_KEY);
  if (!values || !values->contains("LastUpdate")) return std::nullopt;
  return values->at("LastUpdate").type + " " + values->at("LastUpdate").data;
}

class InstalledProgram {
 public:
  explicit InstalledProgram(const std::string& folder) : m_process(folder + "\\orvane.exe", "C:\\") {}
  LauncherProcess& Process() { return m_process; }
  HWND Window() { return WaitForRatesWindow(m_process.ProcessId()); }

  // Ends it as a user does, with Exit.
  void Exit(HWND window) {
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(m_process.WaitForExit(), 0u);
    EXPECT_EQ(m_process.Messages(), Texts{});
  }

 private:
  LauncherProcess m_process;
};

class ServedRates {
 public:
  ServedRates() {
    m_service.SetReply(CMD_GET_VERSION, {FloatBytes(CLIENT_VERSION)});
    ServeProgramRates(m_service, ServiceRates());
  }
  // Offers a library that calls itself 1.2, so that once it runs it takes the rates.
  void OfferUpdate(const std::vector<std::uint8_t>& library) {
    m_service.SetReply(CMD_GET_VERSION, {FloatBytes(1.2f)});
    m_service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(static_cast<std::int32_t>(library.size()))});
    m_service.SetReply(CMD_GET_UPDATE_FILE, {library});
  }
  std::size_t RequestCount() const { return m_service.Requests().size(); }

 private:
  FakeRatesService m_service{RATES_PORT};
};

// Starts the program of an install against the service, sees its rates on the board, ends it.
void ExpectRunsAndShowsTheServiceRates(const std::string& folder) {
  ServedRates service;
  InstalledProgram program(folder);
  HWND window = program.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(WaitForRates(window, ServiceRates()));
  program.Exit(window);
}

TEST(Installer, SilentInstallPutsTheProgramInTheUserProgramFolderAndRegistersIt) {
  ASSERT_EQ(RunInstaller(""), 0u);
  ExpectInstalledIn(DefaultFolder());
  EXPECT_EQ(RunValue(), (RegistryValue{"REG_SZ", Quoted(DefaultFolder() + "\\orvane.exe")}));
}

TEST(Installer, InstalledProgramRunsFromItsFolderAndShowsTheServiceRates) {
  ASSERT_EQ(RunInstaller(""), 0u);
  ExpectRunsAndShowsTheServiceRates(DefaultFolder());
}

TEST(Installer, SignedUpdateReplacesTheInstalledLibraryAndTheNewOneRuns) {
  const std::optional<std::string> nextLibrary = NextLibrary();
  if (!nextLibrary) GTEST_SKIP() << "this build names a release key: its libraries are signed by the release, not here";
  ASSERT_EQ(RunInstaller(""), 0u);
  const auto next = ReadFileBytes(*nextLibrary);
  ASSERT_TRUE(next);
  ASSERT_TRUE(FindSignatureBlock(*next));
  ServedRates service;
  service.OfferUpdate(*next);
  InstalledProgram program(DefaultFolder());
  // version, size, file; then the new library: version (its own), rates. The download, its
  // check, the swap and a second start: a loaded machine takes a while.
  ASSERT_TRUE(WaitUntil([&] { return service.RequestCount() >= 5; }, std::chrono::minutes(2)))
      << service.RequestCount() << " requests";
  HWND window = program.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(WaitForRates(window, ServiceRates()));
  EXPECT_EQ(ReadFileBytes(DefaultFolder() + "\\BrennikDll.dll"), next);
  EXPECT_FALSE(fs::exists(DefaultFolder() + "\\BrennikDllUpdate.dll"));
  program.Exit(window);
}

TEST(Installer, UpgradeOverARunningInstallEndsItThroughExitAndKeepsTheSavedRates) {
  ASSERT_EQ(RunInstaller(""), 0u);
  const std::string folder = DefaultFolder();
  ServedRates service;
  InstalledProgram program(folder);
  HWND window = program.Window();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitForRates(window, ServiceRates()));
  ASSERT_TRUE(WaitUntil([] { return SavedRates().has_value(); }));
  const std::optional<std::string> saved = SavedRates();
  // Something of the old install that the upgrade must replace.
  WriteFileBytes(folder + "\\LICENSES.txt", {'o', 'l', 'd'});

  ASSERT_EQ(RunInstaller(""), 0u);
  // Ended by its Exit command: a clean end, no message, exit code 0.
  EXPECT_EQ(program.Process().WaitForExit(0), 0u);
  EXPECT_EQ(program.Process().Messages(), Texts{});
  EXPECT_EQ(SavedRates(), saved);
  ExpectInstalledIn(folder);
}

TEST(Installer, SignInOptionOffWritesNoRunValue) {
  ASSERT_EQ(RunInstaller("/STARTATSIGNIN=0"), 0u);
  ExpectInstalledIn(DefaultFolder());
  EXPECT_EQ(RunValue(), std::nullopt);
}

TEST(Installer, CustomFolderWithASpaceTakesTheWholeInstall) {
  const std::string folder = "C:\\My Programs\\Orvane";
  ASSERT_EQ(RunInstaller("/D=" + folder), 0u);
  ExpectInstalledIn(folder);
  EXPECT_EQ(RunValue(), (RegistryValue{"REG_SZ", Quoted(folder + "\\orvane.exe")}));
  EXPECT_FALSE(fs::exists(DefaultFolder()));
  ExpectRunsAndShowsTheServiceRates(folder);
}

// The uninstaller copies itself to the temporary folder and returns at once; the copy does the
// work. So the check is a second run of this program, after the prefix's processes have all ended.
TEST(SilentUninstall, RunsWhileTheProgramRuns) {
  ASSERT_EQ(RunInstaller(""), 0u);
  ServedRates service;
  InstalledProgram program(DefaultFolder());
  HWND window = program.Window();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitUntil([] { return SavedRates().has_value(); }));

  const std::optional<RegistryValues> entry = RegQuery(UNINSTALL_KEY);
  ASSERT_TRUE(entry && entry->contains("QuietUninstallString"));
  EXPECT_EQ(RunToEnd(entry->at("QuietUninstallString").data), 0u);
  EXPECT_EQ(program.Process().WaitForExit(), 0u);
  EXPECT_EQ(program.Process().Messages(), Texts{});
  WriteFileBytes(UNINSTALL_STEP_NOTE, {'r', 'a', 'n'});
}

TEST(SilentUninstall, LeftNothingBehind) {
  ASSERT_TRUE(fs::exists(UNINSTALL_STEP_NOTE)) << "runs after SilentUninstall.RunsWhileTheProgramRuns";
  EXPECT_FALSE(fs::exists(DefaultFolder()));
  EXPECT_FALSE(fs::exists(ShortcutPath()));
  EXPECT_EQ(RegQuery(UNINSTALL_KEY), std::nullopt);
  EXPECT_EQ(RegQuery(COMPANY_KEY), std::nullopt);
  EXPECT_EQ(RunValue(), std::nullopt);
  // The uninstaller's copy of itself is gone too.
  std::vector<std::string> programsLeft;
  for (const auto& entry : fs::recursive_directory_iterator(fs::temp_directory_path())) {
    if (entry.path().extension() == ".exe") programsLeft.push_back(entry.path().string());
  }
  EXPECT_EQ(programsLeft, std::vector<std::string>{});
}

}  // namespace
