#include "rates_board.h"

#include "currency.h"
#include "handle.h"
#include "skin_palette.h"

namespace {
constexpr int ROWS_PER_COLUMN = 9;
constexpr COLORREF TEXT_COLOR = RGB(255, 255, 255);
}  // namespace

BoardRow BoardLayout(int index) {
  const bool left = index < ROWS_PER_COLUMN;
  const int row = left ? index : index - ROWS_PER_COLUMN;
  const int y = 40 + 25 * row;
  BoardRow layout;
  layout.flag = {left ? 35 : 195, y};
  layout.label = left ? RECT{71, y, 101, y + 20} : RECT{231, y, 271, y + 20};
  layout.rateBox = left ? RECT{95, 43 + 25 * row, 155, 68 + 25 * row} : RECT{280, 43 + 25 * row, 340, 68 + 25 * row};
  return layout;
}

std::string RateBoxName(int index) { return std::string(CurrencyCodes[index]) + " in " + CurrencyCodes[RON_INDEX]; }

void PaintBoard(HDC dc, const SkinBitmap& background, const SkinBitmap& flagStrip, HFONT font) {
  background.Draw(dc, 0, 0);
  Selection selectedFont(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, TEXT_COLOR);
  for (int i = 0; i < RATE_COUNT; ++i) {
    BoardRow row = BoardLayout(i);
    DrawFlag(flagStrip, dc, row.flag.x, row.flag.y, i);
    DrawTextA(dc, CurrencyCodes[i], -1, &row.label, DT_SINGLELINE | DT_VCENTER);
  }
}
