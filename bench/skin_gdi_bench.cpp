// Timings of the skin's GDI work under Wine (Google Benchmark is not built for MinGW here).
// Method: each subject runs a few warm-up iterations, then ROUNDS rounds of a fixed number of
// iterations timed with QueryPerformanceCounter; the median round gives the time per iteration.
//   skin_gdi_bench.exe RES_DIR
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "board_paint_cache.h"
#include "rates/currency.h"
#include "rates_board.h"
#include "reference_region.h"
#include "screen_capture.h"
#include "skin_bitmap.h"

namespace {

constexpr int ROUNDS = 7;

double MedianMicroseconds(int iterations, const std::function<void()>& subject) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (int i = 0; i < 3; ++i) subject();
  std::vector<double> rounds;
  for (int r = 0; r < ROUNDS; ++r) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < iterations; ++i) subject();
    QueryPerformanceCounter(&end);
    rounds.push_back(1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                     static_cast<double>(frequency.QuadPart) / iterations);
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[ROUNDS / 2];
}

HBITMAP LoadPicture(const std::string& folder, const char* name) {
  return static_cast<HBITMAP>(
      LoadImageA(nullptr, (folder + "/" + name).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
}

void Report(const char* name, int iterations, double microseconds) {
  std::printf("%-44s %10.1f us/op  (median of %d rounds x %d)\n", name, microseconds, ROUNDS, iterations);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: skin_gdi_bench RES_DIR\n");
    return 2;
  }
  const std::string folder = argv[1];
  SkinBitmap button, background, flags;
  button.Attach(LoadPicture(folder, "button.bmp"));
  background.Attach(LoadPicture(folder, "background.bmp"));
  flags.Attach(LoadPicture(folder, "flags.bmp"));
  if (button.IsEmpty() || background.IsEmpty() || flags.IsEmpty()) {
    std::fprintf(stderr, "pictures not found in %s\n", folder.c_str());
    return 1;
  }

  // Region of the button skin: the pixel-by-pixel rule against the runs, same region.
  {
    RegionHandle ours = button.CreateRegion(nullptr);
    HRGN reference = CreateRegionPixelByPixel(button.Get(), nullptr);
    if (!EqualRgn(ours.Get(), reference)) {
      std::fprintf(stderr, "the two regions differ\n");
      return 1;
    }
    DeleteObject(reference);
  }
  const double perPixel = MedianMicroseconds(5, [&] { DeleteObject(CreateRegionPixelByPixel(button.Get(), nullptr)); });
  const double runs = MedianMicroseconds(200, [&] { button.CreateRegion(nullptr); });
  Report("CreateRegion button, pixel by pixel", 5, perPixel);
  Report("CreateRegion button, runs", 200, runs);
  std::printf("ratio pixel-by-pixel / runs: %.1f\n\n", perPixel / runs);

  // A full paint of the window into a 400 x 400 target compatible with the screen: the board, and
  // the brush that every control showing the face through asks for, against one plain block
  // transfer of the face of the same size. As before: all of it made anew at every paint; now:
  // the board and the brushes kept from the first paint.
  HDC screen = GetDC(nullptr);
  HDC target = CreateCompatibleDC(screen);
  HBITMAP targetBitmap = CreateCompatibleBitmap(screen, 400, 400);
  HGDIOBJ previousTarget = SelectObject(target, targetBitmap);
  HDC source = CreateCompatibleDC(screen);
  HGDIOBJ previousSource = SelectObject(source, background.Get());
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

  std::vector<RECT> facePlaces;  // the rate boxes and the "Last Updated" line
  for (int i = 0; i < RATE_COUNT; ++i) facePlaces.push_back(BoardLayout(i).rateBox);
  facePlaces.push_back(RECT{36, 276, 386, 289});

  BoardPicture board;
  FaceBrushes brushes;
  auto keptPaint = [&] {
    board.Paint(target, background, flags, font);
    for (const RECT& place : facePlaces) brushes.For(target, place, background);
    GdiFlush();
  };
  auto paintAsBefore = [&] {
    PaintBoard(target, background, flags, font);
    for (const RECT& place : facePlaces) MakeFaceBrush(target, place, background);
    GdiFlush();
  };

  // The kept board must be what is painted anew, pixel for pixel, or this measures nothing.
  auto pixelsOf = [&](const std::function<void()>& paint) {
    PatBlt(target, 0, 0, 400, 400, BLACKNESS);
    paint();
    SelectObject(target, previousTarget);  // read from a context of its own
    const Picture picture = ReadBitmap(targetBitmap);
    SelectObject(target, targetBitmap);
    return picture.bgrx;
  };
  if (pixelsOf(paintAsBefore) != pixelsOf(keptPaint)) {
    std::fprintf(stderr, "the kept board differs from the board painted anew\n");
    return 1;
  }

  const double asBefore = MedianMicroseconds(50, paintAsBefore);
  const double compose = MedianMicroseconds(50, [&] {
    PaintBoard(target, background, flags, font);
    GdiFlush();
  });
  const double kept = MedianMicroseconds(500, keptPaint);
  const double blit = MedianMicroseconds(500, [&] {
    BitBlt(target, 0, 0, 400, 400, source, 0, 0, SRCCOPY);
    GdiFlush();
  });
  // The reference above converts the face's 24-bit DIB section; the kept board is already in the
  // target's format, so its copy is cheaper than that. The same copy, for comparison:
  HBITMAP compatibleFace = CreateCompatibleBitmap(screen, 400, 400);
  HDC compatibleSource = CreateCompatibleDC(screen);
  HGDIOBJ previousCompatible = SelectObject(compatibleSource, compatibleFace);
  BitBlt(compatibleSource, 0, 0, 400, 400, source, 0, 0, SRCCOPY);
  const double compatibleBlit = MedianMicroseconds(500, [&] {
    BitBlt(target, 0, 0, 400, 400, compatibleSource, 0, 0, SRCCOPY);
    GdiFlush();
  });
  SelectObject(compatibleSource, previousCompatible);
  DeleteDC(compatibleSource);
  DeleteObject(compatibleFace);

  Report("full paint, all made anew (as before)", 50, asBefore);
  Report("  of which face + 18 flags + labels", 50, compose);
  Report("full paint, board and brushes kept", 500, kept);
  Report("BitBlt of the face", 500, blit);
  Report("BitBlt of the face, screen-compatible copy", 500, compatibleBlit);
  std::printf("ratio full paint as before / BitBlt: %.1f\n", asBefore / blit);
  std::printf("ratio full paint kept / BitBlt: %.2f (goal: at most 3)\n", kept / blit);
  std::printf("ratio full paint kept / BitBlt of the screen-compatible copy: %.2f\n", kept / compatibleBlit);

  SelectObject(source, previousSource);
  DeleteDC(source);
  SelectObject(target, previousTarget);
  DeleteObject(targetBitmap);
  DeleteDC(target);
  ReleaseDC(nullptr, screen);
  return 0;
}
