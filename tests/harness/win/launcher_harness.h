// Real orvane.exe processes for end-to-end tests: a program folder of their own, the launcher
// started from outside, and its message boxes answered and recorded.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "handle.h"
#include "test_support.h"

// Bound of the waits for the launcher: generous, so that a slow machine passes and a hang fails.
inline constexpr DWORD LAUNCHER_TIMEOUT_MS = 60000;

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
  explicit ProgramFolder(const std::filesystem::path& subfolder = "program");
  // A folder whose orvane.exe has a path of exactly this many characters.
  explicit ProgramFolder(ProgramPathLength pathLength);

  const std::filesystem::path& Path() const { return m_path; }
  const std::filesystem::path& Root() const { return m_root.Path(); }
  std::string File(const std::string& name) const { return (m_path / name).string(); }
  std::filesystem::path FilePath(const std::string& name) const { return m_path / name; }
  bool Has(const std::string& name) const;

  void Place(const std::string& source, const std::string& name) const;
  void PlaceBytes(const std::vector<std::uint8_t>& bytes, const std::string& name) const;
  std::optional<std::vector<std::uint8_t>> Bytes(const std::string& name) const;
  // The names of the files in the folder, sorted.
  std::set<std::string> Names() const;
  void WriteText(const std::string& name, const std::string& text) const;
  // The test library's script: one action a line.
  void WriteScript(const std::vector<std::string>& actions) const;

  // One line per run of a test library.
  std::vector<std::string> Runs() const;
  bool WaitForRuns(std::size_t count) const;

 private:
  void Install() const;

  TempDir m_root;
  std::filesystem::path m_path;
};

class MessageBoxAnswerer;

// One started orvane.exe. It starts in a folder of its own rather than the program folder, so
// that the library is found through the program's folder and not the current one.
class LauncherProcess {
 public:
  explicit LauncherProcess(const ProgramFolder& folder);
  // An orvane.exe wherever it was installed, started in `currentFolder`.
  LauncherProcess(const std::filesystem::path& program, const std::filesystem::path& currentFolder);
  // Ends the process if it still runs: the test has failed already; leave nothing behind.
  ~LauncherProcess();

  DWORD ProcessId() const { return m_processId; }

  // The exit code, or nothing when the process did not end within the bound.
  std::optional<DWORD> WaitForExit(DWORD timeoutMs = LAUNCHER_TIMEOUT_MS);

  // The texts of the message boxes it showed, each answered with OK.
  std::vector<std::string> Messages() const;

 private:
  KernelHandle m_process;
  DWORD m_processId = 0;
  std::unique_ptr<MessageBoxAnswerer> m_answerer;
};
