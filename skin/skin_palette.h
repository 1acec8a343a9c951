#pragma once

#include <windows.h>

#include "rates/currency.h"
#include "skin_bitmap.h"

// The light blue of the amount boxes: their background, their frame at rest, and the frame of a
// currency list under the pointer.
inline constexpr COLORREF SKIN_LIGHT_BLUE = RGB(175, 211, 237);

// A hollow 1-pixel frame in the light blue: a list's frame under the pointer, and the focus frame
// of the skin controls for those who ask Windows to show the focus.
inline void DrawLightFrame(HDC dc, const RECT& rect) {
  PenHandle pen(CreatePen(PS_SOLID, 1, SKIN_LIGHT_BLUE));
  Selection brush(dc, GetStockObject(NULL_BRUSH));
  Selection selectedPen(dc, pen.Get());
  Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
}

// The flag strip holds one flag per currency index, side by side: a flag is as tall as the strip
// and a CURRENCY_COUNT-th of its width.
inline void DrawFlag(const SkinBitmap& strip, HDC dc, int x, int y, int currency) {
  const int width = strip.GetWidth() / CURRENCY_COUNT;
  strip.Draw(dc, x, y, RECT{width * currency, 0, width * (currency + 1), strip.GetHeight()});
}
