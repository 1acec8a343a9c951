#include "reference_region.h"

HRGN CreateRegionPixelByPixel(HBITMAP bitmap, HDC pattern) {
  BITMAP info{};
  if (!GetObjectA(bitmap, sizeof info, &info)) return nullptr;
  const int half = info.bmWidth / 2;
  HRGN result = CreateRectRgn(0, 0, 0, 0);
  HDC memory = CreateCompatibleDC(pattern);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  for (int y = 0; y < info.bmHeight; ++y) {
    for (int x = 0; x < half; ++x) {
      if (GetPixel(memory, x, y) == 0xFF00FF) continue;
      HRGN unit = CreateRectRgn(x, y, x + 1, y + 1);
      HRGN copy = CreateRectRgn(0, 0, 0, 0);
      CombineRgn(copy, result, nullptr, RGN_COPY);
      CombineRgn(result, copy, unit, RGN_OR);
      DeleteObject(copy);
      DeleteObject(unit);
    }
  }
  SelectObject(memory, previous);
  DeleteDC(memory);
  return result;
}
