#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Pixels as they are on the screen (or in a bitmap), read back for comparison.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgrx;  // top-down, 4 bytes a pixel: blue, green, red, unused

  COLORREF At(int x, int y) const {
    const std::uint8_t* p = &bgrx[(static_cast<std::size_t>(y) * width + x) * 4];
    return RGB(p[2], p[1], p[0]);
  }
};

// The screen's content in `rect` (screen coordinates).
Picture CaptureScreen(const RECT& rect);
// The whole bitmap.
Picture ReadBitmap(HBITMAP bitmap);
// An uncompressed but valid PNG, for looking at by eye.
bool WritePng(const Picture& picture, const std::string& path);

// What an opaque draw of the skin makes of a colour: every channel one step darker.
COLORREF Darkened(COLORREF color);
