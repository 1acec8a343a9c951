#include "rates_board.h"

#include "board_geometry.h"
#include "handle.h"
#include "rates/currency.h"
#include "skin_palette.h"

namespace {
constexpr COLORREF TEXT_COLOR = RGB(255, 255, 255);
}  // namespace

BoardRow BoardLayout(int index) {
  const bool left = index < BOARD_ROWS_PER_COLUMN;
  const int row = left ? index : index - BOARD_ROWS_PER_COLUMN;
  const int y = BOARD_TOP + BOARD_ROW_PITCH * row;
  const int labelLeft = left ? BOARD_LEFT_LABEL_LEFT : BOARD_RIGHT_LABEL_LEFT;
  const int labelRight = left ? BOARD_LEFT_LABEL_RIGHT : BOARD_RIGHT_LABEL_RIGHT;
  const int rateBoxLeft = left ? BOARD_LEFT_RATE_BOX_LEFT : BOARD_RIGHT_RATE_BOX_LEFT;
  BoardRow layout;
  layout.flag = {left ? BOARD_LEFT_FLAG_X : BOARD_RIGHT_FLAG_X, y};
  layout.label = {labelLeft, y, labelRight, y + FLAG_HEIGHT};
  layout.rateBox = {rateBoxLeft, y + RATE_BOX_DROP, rateBoxLeft + RATE_BOX_WIDTH, y + RATE_BOX_DROP + RATE_BOX_HEIGHT};
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
