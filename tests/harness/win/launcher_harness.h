// Real orvane.exe processes for end-to-end tests: a program folder of their own, the launcher
// started from outside, and its message boxes answered and recorded.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "handle.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Bounds of the waits: generous, so that a slow machine passes and a hang fails.
inline constexpr DWORD LAUNCHER_TIMEOUT_MS = 60000;
inline constexpr auto LOG_TIMEOUT = 60s;

// Finds the launcher's message boxes (top-level dialogs captioned "Orvane" of one process),
// records their texts and presses OK, on a thread of its own while the test waits.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(DWORD processId) : m_processId(processId), m_thread([this] { Watch(); }) {}
  ~MessageBoxAnswerer() { Stop(); }

  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  std::vector<std::string> Texts() {
    std::lock_guard lock(m_mutex);
    return m_texts;
  }

 private:
  struct Search {
    DWORD processId;
    std::vector<HWND> found;
  };

  static BOOL CALLBACK Collect(HWND window, LPARAM parameter) {
    Search& search = *reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = {};
    char caption[64] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    if (owner == search.processId && IsWindowVisible(window) && std::string(className) == "#32770" &&
        std::string(caption) == "Orvane") {
      search.found.push_back(window);
    }
    return TRUE;
  }

  void Watch() {
    std::set<HWND> answered;
    while (!m_stop) {
      Search search{m_processId, {}};
      EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
      std::erase_if(answered, [](HWND window) { return !IsWindow(window); });
      for (HWND window : search.found) {
        if (answered.contains(window)) continue;
        char text[256] = {};
        GetDlgItemTextA(window, 0xFFFF, text, sizeof text);  // the message box's static text
        if (!text[0]) continue;                              // not filled in yet: next round
        {
          std::lock_guard lock(m_mutex);
          m_texts.push_back(text);
        }
        answered.insert(window);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
      }
      std::this_thread::sleep_for(20ms);
    }
  }

  const DWORD m_processId;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::vector<std::string> m_texts;
  std::thread m_thread;  // last: starts when everything it uses exists
};

struct ProgramPathLength {
  std::size_t characters;
};

// The orvane.exe of this build, or the one that ORVANE_LAUNCHER_UNDER_TEST names: so the same
// tests measure an older launcher for comparison.
std::string LauncherProgram();

// A program folder with its own copy of orvane.exe, as a user would install it.
class ProgramFolder {
 public:
  // `subfolder` may be any name the file system takes, outside the ANSI code page too.
  explicit ProgramFolder(const fs::path& subfolder = "program") : m_path(m_root.Path() / subfolder) { Install(); }
  // A folder whose orvane.exe has a path of exactly this many characters.
  explicit ProgramFolder(ProgramPathLength pathLength)
      : m_path(m_root.Path() / std::string(pathLength.characters - m_root.Path().string().size() - 1 -
                                               std::string("\\orvane.exe").size(),
                                           'p')) {
    Install();
  }

  const fs::path& Path() const { return m_path; }
  const fs::path& Root() const { return m_root.Path(); }
  std::string File(const std::string& name) const { return (m_path / name).string(); }
  fs::path FilePath(const std::string& name) const { return m_path / name; }
  bool Has(const std::string& name) const { return fs::exists(m_path / name); }

  void Place(const std::string& source, const std::string& name) const {
    fs::copy_file(source, m_path / name, fs::copy_options::overwrite_existing);
  }
  void PlaceBytes(const std::vector<std::uint8_t>& bytes, const std::string& name) const {
    std::ofstream(m_path / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::optional<std::vector<std::uint8_t>> Bytes(const std::string& name) const {
    std::ifstream file(m_path / name, std::ios::binary);
    if (!file) return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
  }
  // The names of the files in the folder, sorted.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path)) names.insert(entry.path().filename().string());
    return names;
  }
  void WriteText(const std::string& name, const std::string& text) const {
    std::ofstream(m_path / name, std::ios::binary) << text;
  }
  void WriteScript(const std::vector<std::string>& actions) const {
    std::string script;
    for (const std::string& action : actions) script += action + "\n";
    WriteText("script.txt", script);
  }

  // One line per run of a test library.
  std::vector<std::string> Runs() const {
    std::vector<std::string> runs;
    std::ifstream log(m_path / "runs.log");
    for (std::string line; std::getline(log, line);) runs.push_back(line);
    return runs;
  }
  bool WaitForRuns(std::size_t count) const {
    return WaitUntil([&] { return Runs().size() >= count; }, LOG_TIMEOUT);
  }

 private:
  void Install() const {
    fs::create_directories(m_path);
    fs::copy_file(LauncherProgram(), m_path / "orvane.exe");
  }

  TempDir m_root;
  fs::path m_path;
};

// One started orvane.exe. It starts in a folder of its own rather than the program folder, so
// that the library is found through the program's folder and not the current one.
class LauncherProcess {
 public:
  explicit LauncherProcess(const ProgramFolder& folder)
      : LauncherProcess(folder.FilePath("orvane.exe"), folder.Root()) {}
  // An orvane.exe wherever it was installed, started in `currentFolder`.
  LauncherProcess(const fs::path& program, const fs::path& currentFolder) {
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, currentFolder.c_str(),
                        &startup, &info)) {
      ADD_FAILURE() << "orvane.exe did not start, error " << GetLastError();
      return;
    }
    m_process.Reset(info.hProcess);
    CloseHandle(info.hThread);
    m_processId = info.dwProcessId;
    m_answerer = std::make_unique<MessageBoxAnswerer>(info.dwProcessId);
  }

  DWORD ProcessId() const { return m_processId; }

  ~LauncherProcess() {
    if (m_process && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(m_process.Get(), 99);  // the test has failed already; leave nothing behind
      WaitForSingleObject(m_process.Get(), LAUNCHER_TIMEOUT_MS);
    }
  }

  // The exit code, or nothing when the process did not end within the bound.
  std::optional<DWORD> WaitForExit(DWORD timeoutMs = LAUNCHER_TIMEOUT_MS) {
    if (!m_process || WaitForSingleObject(m_process.Get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    m_answerer->Stop();
    DWORD code = 0;
    GetExitCodeProcess(m_process.Get(), &code);
    return code;
  }

  std::vector<std::string> Messages() const { return m_answerer ? m_answerer->Texts() : std::vector<std::string>{}; }

 private:
  KernelHandle m_process;
  DWORD m_processId = 0;
  std::unique_ptr<MessageBoxAnswerer> m_answerer;
};
