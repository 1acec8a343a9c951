#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <random>
#include <string>

#include "reference_region.h"
#include "skin_bitmap.h"

#ifndef ORVANE_RES_DIR
#error ORVANE_RES_DIR names the folder of the pictures
#endif

namespace {

// A 32 bpp top-down DIB section with its pixels at hand.
struct Surface {
  Surface(int w, int h) : width(w), height(h) {
    BITMAPINFO info = Bitmap32Info(w, -h);
    void* memory = nullptr;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    bits = static_cast<std::uint32_t*>(memory);
    dc = CreateCompatibleDC(nullptr);
    previous = SelectObject(dc, bitmap);
  }
  ~Surface() {
    SelectObject(dc, previous);
    DeleteDC(dc);
    if (bitmap) DeleteObject(bitmap);
  }
  // COLORREF in, COLORREF out; the DIB holds 0x00RRGGBB.
  void Set(int x, int y, COLORREF c) {
    bits[y * width + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
  }
  COLORREF Get(int x, int y) const {
    GdiFlush();
    const std::uint32_t v = bits[y * width + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  }
  // Hands the bitmap over (for SkinBitmap::Attach); the DC lets go of it first.
  HBITMAP Detach() {
    SelectObject(dc, previous);
    previous = nullptr;
    return std::exchange(bitmap, nullptr);
  }

  int width, height;
  HBITMAP bitmap = nullptr;
  std::uint32_t* bits = nullptr;
  HDC dc = nullptr;
  HGDIOBJ previous = nullptr;
};

TEST(BlendKeyedOnGdi, DrawsOnlyNonKeyPixelsOneStepDarker) {
  Surface source(3, 2), target(5, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) target.Set(x, y, RGB(100, 110, 120));
  source.Set(0, 0, RGB(10, 20, 30));
  source.Set(1, 0, RGB(255, 0, 255));  // key
  source.Set(2, 0, RGB(255, 0, 254));  // one step off the key
  source.Set(0, 1, RGB(0, 0, 0));
  source.Set(1, 1, RGB(255, 255, 255));
  source.Set(2, 1, RGB(255, 0, 255));

  ASSERT_TRUE(BlendKeyed(target.dc, 1, 1, 3, 2, source.dc, 0, 0, 3, 2, 255, KEY_COLOR));
  EXPECT_EQ(target.Get(1, 1), RGB(9, 19, 29));
  EXPECT_EQ(target.Get(2, 1), RGB(100, 110, 120));
  EXPECT_EQ(target.Get(3, 1), RGB(254, 0, 253));
  EXPECT_EQ(target.Get(1, 2), RGB(0, 0, 0));
  EXPECT_EQ(target.Get(2, 2), RGB(254, 254, 254));
  EXPECT_EQ(target.Get(3, 2), RGB(100, 110, 120));
  EXPECT_EQ(target.Get(0, 0), RGB(100, 110, 120));  // outside the rectangle: untouched
  EXPECT_EQ(target.Get(4, 3), RGB(100, 110, 120));

  ASSERT_TRUE(BlendKeyed(target.dc, 0, 0, 1, 1, source.dc, 0, 0, 1, 1, 128, KEY_COLOR));
  EXPECT_EQ(target.Get(0, 0),
            RGB((128 * 10 + 127 * 100) >> 8, (128 * 20 + 127 * 110) >> 8, (128 * 30 + 127 * 120) >> 8));
  EXPECT_FALSE(BlendKeyed(target.dc, 0, 0, 0, 1, source.dc, 0, 0, 0, 1, 255, KEY_COLOR));
}

TEST(SkinBitmapOnGdi, DrawsAPieceKeyedAndMeasuresItself) {
  Surface picture(4, 2);
  for (int x = 0; x < 4; ++x) {
    picture.Set(x, 0, RGB(255, 0, 255));
    picture.Set(x, 1, RGB(40 * x + 1, 2, 3));
  }
  SkinBitmap skin;
  skin.Attach(picture.Detach());
  EXPECT_EQ(skin.GetWidth(), 4);
  EXPECT_EQ(skin.GetHeight(), 2);

  Surface target(2, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) target.Set(x, y, RGB(7, 7, 7));
  skin.Draw(target.dc, 0, 0, RECT{2, 0, 4, 2});
  EXPECT_EQ(target.Get(0, 0), RGB(7, 7, 7));
  EXPECT_EQ(target.Get(0, 1), RGB(80, 1, 2));
  EXPECT_EQ(target.Get(1, 1), RGB(120, 1, 2));
  // The piece's place in the picture and the place it lands on are apart.
  skin.Draw(target.dc, 1, 0, RECT{0, 1, 1, 2});
  EXPECT_EQ(target.Get(1, 0), RGB(0, 1, 2));
  EXPECT_EQ(target.Get(0, 0), RGB(7, 7, 7));
  EXPECT_EQ(target.Get(1, 1), RGB(120, 1, 2));
}

TEST(SkinBitmapOnGdi, EmptyBitmapDrawsNothingMeasuresZeroAndHasNoRegion) {
  SkinBitmap empty;
  Surface target(2, 2);
  target.Set(0, 0, RGB(1, 2, 3));
  empty.Draw(target.dc, 0, 0);
  EXPECT_EQ(target.Get(0, 0), RGB(1, 2, 3));
  EXPECT_EQ(empty.GetWidth(), 0);
  EXPECT_EQ(empty.GetHeight(), 0);
  EXPECT_FALSE(empty.CreateRegion(nullptr));
}

HBITMAP LoadPicture(const std::string& name) {
  const std::string path = std::string(ORVANE_RES_DIR) + "/" + name;
  return static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
}

HBITMAP RandomPicture(int width, int height, double keyShare, unsigned seed) {
  Surface picture(width, height);
  std::mt19937 random(seed);
  std::bernoulli_distribution isKey(keyShare);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.Set(x, y, isKey(random) ? RGB(255, 0, 255) : RGB(random() & 0xFF, random() & 0xFF, 254));
  return picture.Detach();
}

TEST(CreateRegionOnGdi, EqualsThePixelByPixelRegion) {
  struct Case {
    const char* name;
    HBITMAP bitmap;
    bool empty;
  } cases[] = {
      {"button skin", LoadPicture("button.bmp"), false},        {"window face", LoadPicture("background.bmp"), false},
      {"all key", RandomPicture(40, 12, 1.0, 1), true},         {"one pixel wide", RandomPicture(1, 9, 0.0, 2), true},
      {"odd width 187", RandomPicture(187, 27, 0.2, 3), false}, {"odd width 7", RandomPicture(7, 5, 0.5, 4), false},
      {"sparse", RandomPicture(64, 32, 0.9, 5), false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(c.bitmap) << c.name;
    SkinBitmap skin;
    skin.Attach(c.bitmap);
    RegionHandle ours = skin.CreateRegion(nullptr);
    ASSERT_TRUE(ours) << c.name << ": an empty picture half still gives a region object";
    HRGN reference = CreateRegionPixelByPixel(skin.Get(), nullptr);
    EXPECT_TRUE(EqualRgn(ours.Get(), reference)) << c.name;
    RECT box;
    EXPECT_EQ(GetRgnBox(ours.Get(), &box) == NULLREGION, c.empty) << c.name;
    const int width = skin.GetWidth(), height = skin.GetHeight();
    int mismatches = 0;
    for (int y = -1; y <= height; ++y)
      for (int x = -1; x <= width; ++x)
        mismatches += (PtInRegion(ours.Get(), x, y) != FALSE) != (PtInRegion(reference, x, y) != FALSE);
    EXPECT_EQ(mismatches, 0) << c.name;
    DeleteObject(reference);
  }
}

TEST(CreateRegionOnGdi, ButtonSkinReadsTheNormalImageOnly) {
  SkinBitmap skin;
  skin.Attach(LoadPicture("button.bmp"));
  ASSERT_EQ(skin.GetWidth(), 186);
  RegionHandle region = skin.CreateRegion(nullptr);
  RECT box;
  ASSERT_EQ(GetRgnBox(region.Get(), &box), COMPLEXREGION);
  EXPECT_EQ(box.right, 93) << "the hover image lies outside";
  EXPECT_EQ(box.bottom, 27);
  EXPECT_FALSE(PtInRegion(region.Get(), 0, 0));  // a key corner
  EXPECT_TRUE(PtInRegion(region.Get(), 46, 13));
}

}  // namespace
