#include "shell_tray.h"

#include <commctrl.h>

#include "handle.h"
#include "test_support.h"

namespace {

// Memory in another process, for messages whose parameters point at what the receiver fills in:
// a pointer into this process would mean nothing there.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, SIZE_T size)
      : m_process(process), m_address(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
  ~RemoteBuffer() {
    if (m_address) VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  BYTE* Address() const { return static_cast<BYTE*>(m_address); }
  bool Write(SIZE_T offset, const void* bytes, SIZE_T size) const {
    return WriteProcessMemory(m_process, Address() + offset, bytes, size, nullptr) != FALSE;
  }
  bool Read(SIZE_T offset, void* bytes, SIZE_T size) const {
    return ReadProcessMemory(m_process, Address() + offset, bytes, size, nullptr) != FALSE;
  }

 private:
  HANDLE m_process;
  void* m_address;
};

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::vector<HWND> TooltipsOfOtherProcesses() {
  std::vector<HWND> found;
  EnumWindows(
      [](HWND window, LPARAM out) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() && ClassOf(window) == "tooltips_class32")
          reinterpret_cast<std::vector<HWND>*>(out)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The tools of a tooltip of another process: the window each belongs to and its text.
void AddTrayTools(HWND tooltip, std::vector<ShellTrayIcon>& icons) {
  DWORD processId = 0;
  GetWindowThreadProcessId(tooltip, &processId);
  const KernelHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
  if (!process) return;
  constexpr SIZE_T TEXT_CHARACTERS = 1024;
  const RemoteBuffer remote(process.Get(), sizeof(TTTOOLINFOW) + TEXT_CHARACTERS * sizeof(wchar_t));
  if (!remote.Address()) return;
  DWORD_PTR count = 0;
  // A shell that does not answer within the time shows nothing this time; the caller looks again.
  if (!SendMessageTimeoutW(tooltip, TTM_GETTOOLCOUNT, 0, 0, SMTO_ABORTIFHUNG, 10000, &count)) return;
  for (DWORD_PTR index = 0; index < count; ++index) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.lpszText = reinterpret_cast<wchar_t*>(remote.Address() + sizeof tool);
    const wchar_t empty = 0;
    DWORD_PTR copied = 0;
    if (!remote.Write(0, &tool, sizeof tool) || !remote.Write(sizeof tool, &empty, sizeof empty) ||
        !SendMessageTimeoutW(tooltip, TTM_ENUMTOOLSW, index, reinterpret_cast<LPARAM>(remote.Address()),
                             SMTO_ABORTIFHUNG, 10000, &copied) ||
        !copied)
      continue;
    wchar_t text[TEXT_CHARACTERS] = {};
    if (!remote.Read(0, &tool, sizeof tool) || !remote.Read(sizeof tool, text, sizeof text - sizeof(wchar_t))) continue;
    // The icon windows of Wine's notification area; the balloon and other tooltips are not icons.
    if (!(tool.uFlags & TTF_IDISHWND) || ClassOf(tool.hwnd) != "__winex11_tray_icon") continue;
    char narrow[TEXT_CHARACTERS * 3] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    icons.push_back({tool.hwnd, narrow});
  }
}

std::vector<HWND> IconsWithTip(const std::string& tip) {
  std::vector<HWND> icons;
  for (const ShellTrayIcon& icon : ShellTrayIcons())
    if (icon.tip == tip) icons.push_back(icon.icon);
  return icons;
}

void DoubleClick(const std::vector<HWND>& icons) {
  for (HWND icon : icons) PostMessageA(icon, WM_LBUTTONDBLCLK, 0, 0);
}

}  // namespace

std::vector<ShellTrayIcon> ShellTrayIcons() {
  std::vector<ShellTrayIcon> icons;
  for (HWND tooltip : TooltipsOfOtherProcesses()) AddTrayTools(tooltip, icons);
  return icons;
}

bool WaitForTrayTip(HWND window, const std::string& tip) {
  std::vector<HWND> icons;
  if (!WaitUntil([&] {
        icons = IconsWithTip(tip);
        return !icons.empty();
      }))
    return false;
  // Other programs' icons may carry the same tip: a double click reaches only their windows.
  const bool visible = IsWindowVisible(window) != FALSE;
  DoubleClick(icons);
  const bool reached = WaitUntil([&] { return (IsWindowVisible(window) != FALSE) != visible; });
  if (reached) DoubleClick(icons);
  return reached && WaitUntil([&] { return (IsWindowVisible(window) != FALSE) == visible; });
}
