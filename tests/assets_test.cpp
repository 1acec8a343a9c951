// Checks the committed pictures under res/ as the resource compiler and the skin code will see them:
// plain bottom-up 24-bit bitmaps of the fixed sizes, the key colour exactly where the window and the
// buttons expect transparency, and icon and cursor files the loader accepts.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rates/currency.h"
#include "test_support.h"

namespace {

struct Rgb {
  std::uint8_t red, green, blue;
  bool operator==(const Rgb&) const = default;
};

// Magenta: skin pixels of exactly this colour are transparent.
constexpr Rgb KEY{255, 0, 255};

std::string ResFile(const std::string& name) { return std::string(ORVANE_RES_DIR) + "/" + name; }

std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
std::int32_t I32(const std::vector<std::uint8_t>& b, std::size_t at) { return static_cast<std::int32_t>(U32(b, at)); }

class Bitmap {
 public:
  int width = 0, height = 0;
  Rgb At(int x, int y) const {
    // Rows are stored bottom-up, each padded to four bytes, pixels as blue, green, red.
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t at =
        m_offset + stride * static_cast<std::size_t>(height - 1 - y) + 3 * static_cast<std::size_t>(x);
    return {m_bytes[at + 2], m_bytes[at + 1], m_bytes[at]};
  }
  bool IsKey(int x, int y) const { return At(x, y) == KEY; }
  int CountKey(int left, int top, int right, int bottom) const {
    int count = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) count += IsKey(x, y);
    return count;
  }

  // Accepts only what windres embeds as a BITMAP resource and the skin code draws unchanged:
  // BITMAPINFOHEADER, 24 bits, BI_RGB, positive height (bottom-up), all rows present.
  static std::optional<Bitmap> Load(const std::string& name, std::string& why) {
    const auto bytes = ReadFileBytes(ResFile(name));
    if (!bytes) return why = "cannot read", std::nullopt;
    const auto& b = *bytes;
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return why = "no BM header", std::nullopt;
    if (U32(b, 2) != b.size()) return why = "file size field differs from the file", std::nullopt;
    Bitmap bitmap;
    bitmap.m_offset = U32(b, 10);
    bitmap.width = I32(b, 18);
    bitmap.height = I32(b, 22);
    if (U32(b, 14) != 40) return why = "not a BITMAPINFOHEADER", std::nullopt;
    if (bitmap.width <= 0 || bitmap.height <= 0) return why = "not bottom-up or empty", std::nullopt;
    if (U16(b, 26) != 1 || U16(b, 28) != 24) return why = "not one plane of 24 bits", std::nullopt;
    if (U32(b, 30) != 0) return why = "compressed", std::nullopt;
    if (U32(b, 46) != 0) return why = "has a colour table", std::nullopt;
    if (bitmap.m_offset != 54) return why = "pixels do not follow the header", std::nullopt;
    const std::size_t stride = (static_cast<std::size_t>(bitmap.width) * 3 + 3) & ~std::size_t{3};
    if (bitmap.m_offset + stride * bitmap.height > b.size()) return why = "pixel rows cut short", std::nullopt;
    bitmap.m_bytes = b;
    return bitmap;
  }

 private:
  std::size_t m_offset = 0;
  std::vector<std::uint8_t> m_bytes;
};

Bitmap MustLoad(const std::string& name) {
  std::string why;
  auto bitmap = Bitmap::Load(name, why);
  if (!bitmap) ADD_FAILURE() << name << ": " << why;
  return bitmap.value_or(Bitmap{});
}

// WCAG contrast of white text over a colour.
double ContrastWithWhite(Rgb c) {
  auto linear = [](int v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  const double luminance = 0.2126 * linear(c.red) + 0.7152 * linear(c.green) + 0.0722 * linear(c.blue);
  return 1.05 / (luminance + 0.05);
}

struct Rect {
  const char* what;
  int left, top, right, bottom;
};

// Where the window puts things on its face (client pixels): the board rows of both columns, and the
// converter row, the "Last Updated" line and the two buttons at the template's positions.
std::vector<Rect> FaceItems() {
  std::vector<Rect> items;
  for (int index = 0; index < 18; ++index) {
    const bool left = index < 9;
    const int row = left ? index : index - 9;
    const int flagX = left ? 35 : 195;
    items.push_back({"flag", flagX, 40 + 25 * row, flagX + 30, 60 + 25 * row});
    items.push_back({"label", left ? 71 : 231, 40 + 25 * row, left ? 101 : 271, 60 + 25 * row});
    items.push_back({"rate box", left ? 95 : 280, 43 + 25 * row, left ? 155 : 340, 68 + 25 * row});
  }
  items.push_back({"last updated line", 36, 276, 386, 289});
  items.push_back({"converter row", 22, 300, 372, 330});
  items.push_back({"update button", 180, 351, 273, 378});
  items.push_back({"exit button", 282, 351, 375, 378});
  return items;
}

TEST(Assets, BitmapsArePlainBottomUp24BitOfTheFixedSizes) {
  const struct {
    const char* file;
    int width, height;
  } cases[] = {{"flags.bmp", 30 * CURRENCY_COUNT, 20}, {"background.bmp", 400, 400}, {"button.bmp", 186, 27}};
  for (const auto& c : cases) {
    std::string why;
    const auto bitmap = Bitmap::Load(c.file, why);
    ASSERT_TRUE(bitmap) << c.file << ": " << why;
    EXPECT_EQ(bitmap->width, c.width) << c.file;
    EXPECT_EQ(bitmap->height, c.height) << c.file;
  }
}

TEST(Assets, FlagStripHasNoTransparentPixelAndNoBlankFlag) {
  const Bitmap flags = MustLoad("flags.bmp");
  ASSERT_EQ(flags.width, 570);
  EXPECT_EQ(flags.CountKey(0, 0, flags.width, flags.height), 0);
  for (int index = 0; index < CURRENCY_COUNT; ++index) {
    // Every flag has some detail: no slot is a flat fill left by a missing source.
    const Rgb first = flags.At(30 * index, 0);
    bool varied = false;
    for (int y = 0; y < 20 && !varied; ++y)
      for (int x = 0; x < 30 && !varied; ++x) varied = !(flags.At(30 * index + x, y) == first);
    EXPECT_TRUE(varied) << CurrencyCodes[index];
  }
}

TEST(Assets, FlagsSitAtTheirCurrencyIndex) {
  const Bitmap flags = MustLoad("flags.bmp");
  ASSERT_EQ(flags.width, 570);
  auto near = [](Rgb c, Rgb want) {
    return std::abs(c.red - want.red) < 40 && std::abs(c.green - want.green) < 40 && std::abs(c.blue - want.blue) < 40;
  };
  // Flags whose middle stripes are known: a shifted or reordered strip shows here.
  const struct {
    int index, x, y;
    Rgb colour;
  } cases[] = {
      {18, 5, 10, {0, 43, 127}},    {18, 15, 10, {252, 209, 22}},  {18, 25, 10, {206, 17, 38}},  // RON
      {10, 15, 2, {206, 17, 38}},   {10, 15, 10, {255, 255, 255}}, {10, 15, 17, {90, 150, 70}},  // HUF
      {11, 15, 10, {200, 10, 40}},  {11, 2, 2, {255, 255, 255}},                                 // JPY
      {14, 15, 4, {255, 255, 255}}, {14, 15, 16, {220, 20, 60}},                                 // PLN
      {0, 2, 2, {0, 51, 153}},                                                                   // EUR
  };
  for (const auto& c : cases) {
    const Rgb got = flags.At(30 * c.index + c.x, c.y);
    EXPECT_TRUE(near(got, c.colour)) << CurrencyCodes[c.index] << " at (" << c.x << ", " << c.y << ") is "
                                     << int{got.red} << "," << int{got.green} << "," << int{got.blue};
  }
}

TEST(Assets, BackgroundIsTransparentOnlyOutsideTheRoundedWindow) {
  const Bitmap face = MustLoad("background.bmp");
  ASSERT_EQ(face.width, 400);
  ASSERT_EQ(face.height, 400);
  for (const auto& [x, y] : {std::pair{0, 0}, {399, 0}, {0, 399}, {399, 399}, {5, 5}, {394, 394}})
    EXPECT_TRUE(face.IsKey(x, y)) << x << ", " << y;
  // The window's region is a round rectangle with a 78 x 78 corner ellipse: every pixel inside it
  // must be face, every pixel clearly beyond it key.
  int insideKeyed = 0, outsideFace = 0;
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 400; ++x) {
      const double cx = x < 39 ? 39 : x >= 361 ? 361 : x + 0.5;
      const double cy = y < 39 ? 39 : y >= 361 ? 361 : y + 0.5;
      const double distance = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      if (distance <= 39 && face.IsKey(x, y)) ++insideKeyed;
      if (distance >= 41.5 && !face.IsKey(x, y)) ++outsideFace;
    }
  }
  EXPECT_EQ(insideKeyed, 0);
  EXPECT_EQ(outsideFace, 0);
}

TEST(Assets, BoardItemsLieOnOpaqueFaceThatCarriesWhiteText) {
  const Bitmap face = MustLoad("background.bmp");
  ASSERT_EQ(face.width, 400);
  for (const Rect& item : FaceItems()) {
    EXPECT_EQ(face.CountKey(item.left, item.top, item.right, item.bottom), 0)
        << item.what << " at " << item.left << ", " << item.top;
    double worst = 100;
    for (int y = item.top; y < item.bottom; ++y)
      for (int x = item.left; x < item.right; ++x) worst = std::min(worst, ContrastWithWhite(face.At(x, y)));
    EXPECT_GE(worst, 4.5) << "white text is hard to read on the " << item.what << " at " << item.left << ", "
                          << item.top;
  }
}

TEST(Assets, CaptionIsPaintedInTheBandAboveTheBoard) {
  const Bitmap face = MustLoad("background.bmp");
  ASSERT_EQ(face.height, 400);
  auto bright = [](Rgb c) { return c.red > 220 && c.green > 220 && c.blue > 220 && !(c == KEY); };
  int inBand = 0, below = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x)
      if (bright(face.At(x, y))) ++(y < 38 ? inBand : below);
  EXPECT_GT(inBand, 100) << "no caption in the top band";
  EXPECT_EQ(below, 0) << "light pixels on the board";
}

TEST(Assets, ButtonImagesAreKeyedAtTheRoundedEndsOnly) {
  const Bitmap skin = MustLoad("button.bmp");
  ASSERT_EQ(skin.width, 186);
  ASSERT_EQ(skin.height, 27);
  const struct {
    const char* image;
    int left, keyPixels;
  } cases[] = {{"normal", 0, 111}, {"hover", 93, 107}};
  for (const auto& c : cases) {
    for (const auto& [x, y] : {std::pair{0, 0}, {92, 0}, {0, 26}, {92, 26}})
      EXPECT_TRUE(skin.IsKey(c.left + x, y)) << c.image << " corner " << x << ", " << y;
    EXPECT_FALSE(skin.IsKey(c.left + 46, 13)) << c.image << " centre";
    EXPECT_EQ(skin.CountKey(c.left, 0, c.left + 93, 27), c.keyPixels) << c.image;
    // Only the rounded ends are cut away: the middle is opaque, and every row is one opaque run
    // with no hole, so the button's shape is a single piece.
    EXPECT_EQ(skin.CountKey(c.left + 14, 0, c.left + 79, 27), 0) << c.image;
    for (int y = 0; y < 27; ++y) {
      int runs = 0;
      for (int x = 0; x < 93; ++x) runs += !skin.IsKey(c.left + x, y) && (x == 0 || skin.IsKey(c.left + x - 1, y));
      EXPECT_EQ(runs, 1) << c.image << " row " << y;
    }
  }
  // The window's shape comes from the normal image; the hover image must cover all of it, or
  // whatever lies behind would show through inside the button.
  for (int y = 0; y < 27; ++y)
    for (int x = 0; x < 93; ++x)
      if (!skin.IsKey(x, y)) {
        EXPECT_FALSE(skin.IsKey(93 + x, y)) << "hover keyed at " << x << ", " << y;
      }
}

struct IconImage {
  int width, height, bitCount;
  std::size_t offset, size;
  int hotspotX, hotspotY;  // cursors only
};

// Reads an ICONDIR (type 1) or cursor directory (type 2) and the header of every image it names.
std::vector<IconImage> LoadIconDirectory(const std::string& name, int type, std::vector<std::uint8_t>& bytes) {
  const auto file = ReadFileBytes(ResFile(name));
  std::vector<IconImage> images;
  if (!file) return ADD_FAILURE() << name << ": cannot read", images;
  bytes = *file;
  const auto& b = bytes;
  if (b.size() < 6 || U16(b, 0) != 0 || static_cast<int>(U16(b, 2)) != type)
    return ADD_FAILURE() << name << ": bad directory", images;
  const std::size_t count = U16(b, 4);
  if (b.size() < 6 + 16 * count) return ADD_FAILURE() << name << ": directory cut short", images;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * i;
    IconImage image{
        b[entry] ? b[entry] : 256, b[entry + 1] ? b[entry + 1] : 256, 0, U32(b, entry + 12), U32(b, entry + 8), 0, 0};
    if (type == 2) image.hotspotX = U16(b, entry + 4), image.hotspotY = U16(b, entry + 6);
    if (image.offset + image.size > b.size() || image.size < 40) {
      ADD_FAILURE() << name << ": image " << i << " lies outside the file";
      continue;
    }
    const std::size_t h = image.offset;
    EXPECT_EQ(U32(b, h), 40u) << name << ": image " << i << " is not a BITMAPINFOHEADER";
    EXPECT_EQ(I32(b, h + 4), image.width) << name;
    EXPECT_EQ(I32(b, h + 8), 2 * image.height) << name << ": the height counts colour and mask";
    EXPECT_EQ(U16(b, h + 12), 1u) << name;
    EXPECT_EQ(U32(b, h + 16), 0u) << name << ": compressed";
    image.bitCount = static_cast<int>(U16(b, h + 14));
    const std::size_t colours = image.bitCount <= 8 ? (std::size_t{1} << image.bitCount) : 0;
    const std::size_t xorStride = ((static_cast<std::size_t>(image.width) * image.bitCount + 31) / 32) * 4;
    const std::size_t andStride = ((static_cast<std::size_t>(image.width) + 31) / 32) * 4;
    EXPECT_EQ(image.size, 40 + 4 * colours + (xorStride + andStride) * image.height) << name << ": image " << i;
    images.push_back(image);
  }
  return images;
}

// Opacity from the AND mask (0 = drawn), rows bottom-up after the colour rows.
bool MaskOpaque(const std::vector<std::uint8_t>& b, const IconImage& image, int x, int y) {
  const std::size_t colours = image.bitCount <= 8 ? (std::size_t{1} << image.bitCount) : 0;
  const std::size_t xorStride = ((static_cast<std::size_t>(image.width) * image.bitCount + 31) / 32) * 4;
  const std::size_t andStride = ((static_cast<std::size_t>(image.width) + 31) / 32) * 4;
  const std::size_t mask = image.offset + 40 + 4 * colours + xorStride * image.height;
  const std::uint8_t bits = b[mask + andStride * (image.height - 1 - y) + x / 8];
  return (bits & (0x80 >> (x % 8))) == 0;
}

TEST(Assets, IconsHoldTheirSizesWithOpaqueSymbolAndClearCorners) {
  const struct {
    const char* file;
    std::vector<int> sizes;
  } cases[] = {{"main.ico", {16, 32}}, {"tray.ico", {16}}};
  for (const auto& c : cases) {
    std::vector<std::uint8_t> bytes;
    const auto images = LoadIconDirectory(c.file, 1, bytes);
    ASSERT_EQ(images.size(), c.sizes.size()) << c.file;
    for (std::size_t i = 0; i < images.size(); ++i) {
      const IconImage& image = images[i];
      EXPECT_EQ(image.width, c.sizes[i]) << c.file;
      EXPECT_EQ(image.height, c.sizes[i]) << c.file;
      EXPECT_EQ(image.bitCount, 32) << c.file;
      const int mid = image.width / 2;
      EXPECT_TRUE(MaskOpaque(bytes, image, mid, mid)) << c.file << " centre";
      EXPECT_TRUE(MaskOpaque(bytes, image, mid, 1)) << c.file << " top edge";
      EXPECT_FALSE(MaskOpaque(bytes, image, 0, 0)) << c.file << " rounded corner";
    }
  }
}

TEST(Assets, HandCursorPointsWithItsHotspotAtTheFingertip) {
  std::vector<std::uint8_t> bytes;
  const auto images = LoadIconDirectory("hand.cur", 2, bytes);
  ASSERT_EQ(images.size(), 1u);
  const IconImage& hand = images[0];
  EXPECT_EQ(hand.width, 32);
  EXPECT_EQ(hand.height, 32);
  EXPECT_EQ(hand.bitCount, 1);
  ASSERT_LT(hand.hotspotX, 32);
  ASSERT_LT(hand.hotspotY, 32);
  EXPECT_TRUE(MaskOpaque(bytes, hand, hand.hotspotX, hand.hotspotY)) << "hotspot on a transparent pixel";
  // The fingertip is the hand's highest point: nothing is drawn above the hotspot.
  for (int y = 0; y < hand.hotspotY; ++y)
    for (int x = 0; x < 32; ++x) EXPECT_FALSE(MaskOpaque(bytes, hand, x, y)) << x << ", " << y;
  int drawn = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) drawn += MaskOpaque(bytes, hand, x, y);
  EXPECT_GT(drawn, 150) << "too small for a hand";
}

}  // namespace

#ifdef _WIN32
#include <windows.h>

namespace {

// The platform's own loader must accept every file as it stands, with the sizes the window uses.
TEST(Assets, WindowsLoadsEveryPictureWithItsSize) {
  const struct {
    const char* file;
    int width, height;
  } bitmaps[] = {{"flags.bmp", 570, 20}, {"background.bmp", 400, 400}, {"button.bmp", 186, 27}};
  for (const auto& c : bitmaps) {
    HANDLE image = LoadImageA(nullptr, ResFile(c.file).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    ASSERT_NE(image, nullptr) << c.file;
    BITMAP info{};
    ASSERT_EQ(GetObjectA(image, sizeof info, &info), static_cast<int>(sizeof info)) << c.file;
    EXPECT_EQ(info.bmWidth, c.width) << c.file;
    EXPECT_EQ(info.bmHeight, c.height) << c.file;
    DeleteObject(image);
  }

  const struct {
    const char* file;
    UINT type;
    int size;
  } icons[] = {{"main.ico", IMAGE_ICON, 16},
               {"main.ico", IMAGE_ICON, 32},
               {"tray.ico", IMAGE_ICON, 16},
               {"hand.cur", IMAGE_CURSOR, 32}};
  for (const auto& c : icons) {
    HANDLE image = LoadImageA(nullptr, ResFile(c.file).c_str(), c.type, c.size, c.size, LR_LOADFROMFILE);
    ASSERT_NE(image, nullptr) << c.file << " at " << c.size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(static_cast<HICON>(image), &info)) << c.file;
    BITMAP mask{};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, c.size) << c.file;
    if (c.type == IMAGE_CURSOR) {
      std::vector<std::uint8_t> bytes;
      const auto images = LoadIconDirectory(c.file, 2, bytes);
      ASSERT_EQ(images.size(), 1u);
      EXPECT_FALSE(info.fIcon);
      EXPECT_EQ(info.xHotspot, static_cast<DWORD>(images[0].hotspotX));
      EXPECT_EQ(info.yHotspot, static_cast<DWORD>(images[0].hotspotY));
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    if (c.type == IMAGE_CURSOR) {
      DestroyCursor(static_cast<HCURSOR>(image));
    } else {
      DestroyIcon(static_cast<HICON>(image));
    }
  }
}

}  // namespace
#endif
