#pragma once

#include <windows.h>

#include <string>

#include "skin_bitmap.h"

// The rates board: where each of the eighteen currencies sits on the face (board_geometry.h), and
// how the face, the flags and the labels are painted.
struct BoardRow {
  POINT flag;    // top-left of the flag
  RECT label;    // the currency's label
  RECT rateBox;  // the read-only box of its rate
};

// Currency `index` 0 to 8 in the left column, 9 to 17 in the right one.
BoardRow BoardLayout(int index);

// What a screen reader calls the rate box of currency `index`: the face shows the label beside it,
// and every rate is in the base currency, e.g. "100HUF in RON".
std::string RateBoxName(int index);

// The face at (0, 0), then every flag with its label in white, in `font`, straight onto `dc`.
void PaintBoard(HDC dc, const SkinBitmap& background, const SkinBitmap& flagStrip, HFONT font);
