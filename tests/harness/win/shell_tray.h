// The notification area as the shell keeps it, read from the shell's own windows in its process:
// which icons it shows and the tip over each, and which window an icon speaks for.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One icon of the shell: its window in the shell's process, and the text of the tip that the
// shell shows over it.
struct ShellTrayIcon {
  HWND icon;
  std::string tip;
};

// Every icon the shell shows now. Wine's shell (when no X tray takes the icons) gives each icon
// a window of its own and a tooltip over it that holds the icon's tip; the tips are read from
// those tooltips, in the shell's process.
std::vector<ShellTrayIcon> ShellTrayIcons();

// Waits until the shell shows `tip` over the icon of `window`, which must hide on a double click
// on its icon and show again on a second one, as the program's window does: the double click on
// the icons with that tip must reach the window. Leaves the window as visible as it found it.
bool WaitForTrayTip(HWND window, const std::string& tip);
