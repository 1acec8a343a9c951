#include "launcher_harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;

namespace {
// How long a test library may take to log its runs.
constexpr auto LOG_TIMEOUT = std::chrono::seconds(60);
}  // namespace

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
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  const DWORD m_processId;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::vector<std::string> m_texts;
  std::thread m_thread;  // last: starts when everything it uses exists
};

std::string LauncherProgram() {
  const char* underTest = std::getenv("ORVANE_LAUNCHER_UNDER_TEST");
  return underTest && *underTest ? underTest : ORVANE_LAUNCHER_PROGRAM;
}

ProgramFolder::ProgramFolder(const fs::path& subfolder) : m_path(m_root.Path() / subfolder) { Install(); }

ProgramFolder::ProgramFolder(ProgramPathLength pathLength)
    : m_path(m_root.Path() /
             std::string(pathLength.characters - m_root.Path().string().size() - 1 - std::string("\\orvane.exe").size(),
                         'p')) {
  Install();
}

bool ProgramFolder::Has(const std::string& name) const { return fs::exists(m_path / name); }

void ProgramFolder::Place(const std::string& source, const std::string& name) const {
  fs::copy_file(source, m_path / name, fs::copy_options::overwrite_existing);
}

void ProgramFolder::PlaceBytes(const std::vector<std::uint8_t>& bytes, const std::string& name) const {
  std::ofstream(m_path / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::optional<std::vector<std::uint8_t>> ProgramFolder::Bytes(const std::string& name) const {
  std::ifstream file(m_path / name, std::ios::binary);
  if (!file) return std::nullopt;
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

std::set<std::string> ProgramFolder::Names() const {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(m_path)) names.insert(entry.path().filename().string());
  return names;
}

void ProgramFolder::WriteText(const std::string& name, const std::string& text) const {
  std::ofstream(m_path / name, std::ios::binary) << text;
}

void ProgramFolder::WriteScript(const std::vector<std::string>& actions) const {
  std::string script;
  for (const std::string& action : actions) script += action + "\n";
  WriteText("script.txt", script);
}

std::vector<std::string> ProgramFolder::Runs() const {
  std::vector<std::string> runs;
  std::ifstream log(m_path / "runs.log");
  for (std::string line; std::getline(log, line);) runs.push_back(line);
  return runs;
}

bool ProgramFolder::WaitForRuns(std::size_t count) const {
  return WaitUntil([&] { return Runs().size() >= count; }, LOG_TIMEOUT);
}

void ProgramFolder::Install() const {
  fs::create_directories(m_path);
  fs::copy_file(LauncherProgram(), m_path / "orvane.exe");
}

LauncherProcess::LauncherProcess(const ProgramFolder& folder)
    : LauncherProcess(folder.FilePath("orvane.exe"), folder.Root()) {}

LauncherProcess::LauncherProcess(const fs::path& program, const fs::path& currentFolder) {
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

LauncherProcess::~LauncherProcess() {
  if (m_process && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(m_process.Get(), 99);
    WaitForSingleObject(m_process.Get(), LAUNCHER_TIMEOUT_MS);
  }
}

std::optional<DWORD> LauncherProcess::WaitForExit(DWORD timeoutMs) {
  if (!m_process || WaitForSingleObject(m_process.Get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
  m_answerer->Stop();
  DWORD code = 0;
  GetExitCodeProcess(m_process.Get(), &code);
  return code;
}

std::vector<std::string> LauncherProcess::Messages() const {
  return m_answerer ? m_answerer->Texts() : std::vector<std::string>{};
}
