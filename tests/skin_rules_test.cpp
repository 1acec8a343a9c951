#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "keyed_pixels.h"
#include "typed_counter.h"

namespace {

struct Rgb {
  std::uint8_t r, g, b;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

std::vector<std::uint8_t> Pixels(std::initializer_list<Rgb> colours, std::uint8_t fourth = 0x5A) {
  std::vector<std::uint8_t> bytes;
  for (const Rgb& c : colours) bytes.insert(bytes.end(), {c.b, c.g, c.r, fourth});
  return bytes;
}

Rgb At(const std::vector<std::uint8_t>& bytes, std::size_t i) {
  return {bytes[4 * i + 2], bytes[4 * i + 1], bytes[4 * i]};
}

TEST(BlendKeyedPixels, FollowsTheDivideBy256RuleAndTheExactKey) {
  struct Case {
    Rgb source, destination;
    int alpha;
    Rgb result;
  } cases[] = {
      {{10, 20, 30}, {77, 88, 99}, 255, {9, 19, 29}},  // opaque: one step darker
      {{0, 0, 0}, {77, 88, 99}, 255, {0, 0, 0}},
      {{255, 255, 255}, {0, 0, 0}, 255, {254, 254, 254}},
      {{200, 200, 200}, {100, 100, 100}, 128, {149, 149, 149}},  // (128*200 + 127*100) >> 8
      {{255, 0, 255}, {77, 88, 99}, 255, {77, 88, 99}},          // the key keeps the target exactly
      {{255, 0, 255}, {1, 2, 3}, 128, {1, 2, 3}},
      {{255, 0, 254}, {0, 0, 0}, 255, {254, 0, 253}},  // one step off the key is blended
      {{254, 0, 255}, {0, 0, 0}, 255, {253, 0, 254}},
      {{255, 1, 255}, {0, 0, 0}, 255, {254, 0, 254}},
      {{50, 60, 70}, {200, 100, 1}, 0, {199, 99, 0}},  // transparent draw darkens the target
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> source = Pixels({c.source}, 0x11);
    const std::vector<std::uint8_t> destination = Pixels({c.destination}, 0x22);
    BlendKeyedPixels(source.data(), destination.data(), 1, c.alpha, KEY_COLOR);
    EXPECT_EQ(At(source, 0), c.result) << int(c.source.r) << "," << int(c.source.g) << "," << int(c.source.b)
                                       << " alpha " << c.alpha;
    EXPECT_EQ(source[3], 0x11) << "the fourth byte is never touched";
  }
}

TEST(BlendKeyedPixels, KeyComesFromTheArgumentAsColorRef) {
  // COLORREF 0x00332211: red 0x11, green 0x22, blue 0x33.
  std::vector<std::uint8_t> source = Pixels({{0x11, 0x22, 0x33}, {0x33, 0x22, 0x11}});
  const std::vector<std::uint8_t> destination = Pixels({{5, 6, 7}, {5, 6, 7}});
  BlendKeyedPixels(source.data(), destination.data(), 2, 255, 0x00332211);
  EXPECT_EQ(At(source, 0), (Rgb{5, 6, 7}));
  EXPECT_EQ(At(source, 1), (Rgb{0x32, 0x21, 0x10}));
}

// The rule itself, pixel by pixel: inside when in the left half and not of the key colour.
bool RuleSaysInside(const std::vector<std::uint8_t>& pixels, int width, int x, int y) {
  if (x >= width / 2) return false;
  const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
  return !(p[0] == 0xFF && p[1] == 0x00 && p[2] == 0xFF);
}

bool RectsContain(const std::vector<RegionRect>& rects, int x, int y) {
  for (const RegionRect& r : rects)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

std::vector<std::uint8_t> Picture(int width, int height, double keyShare, unsigned seed) {
  std::mt19937 random(seed);
  std::bernoulli_distribution isKey(keyShare);
  std::vector<std::uint8_t> pixels;
  for (int i = 0; i < width * height; ++i) {
    if (isKey(random))
      pixels.insert(pixels.end(), {0xFF, 0x00, 0xFF, 0});
    else
      pixels.insert(pixels.end(), {static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()), 0xFE, 0});
  }
  return pixels;
}

TEST(OpaqueRegionRects, CoverExactlyTheNonKeyPixelsOfTheLeftHalfInBandedOrder) {
  struct Case {
    int width, height;
    double keyShare;
  } cases[] = {{186, 27, 0.1}, {187, 27, 0.3}, {1, 5, 0.0},   {2, 3, 0.0},  {3, 3, 0.5},
               {40, 40, 1.0},  {41, 7, 0.9},   {64, 64, 0.5}, {10, 1, 0.2}, {0, 0, 0.0}};
  unsigned seed = 1;
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> pixels = Picture(c.width, c.height, c.keyShare, seed++);
    const auto rects = OpaqueRegionRects(pixels.data(), c.width, c.height, static_cast<std::size_t>(c.width) * 4);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        ASSERT_EQ(RectsContain(rects, x, y), RuleSaysInside(pixels, c.width, x, y))
            << c.width << "x" << c.height << " at " << x << ", " << y;
    for (std::size_t i = 1; i < rects.size(); ++i) {
      const RegionRect& a = rects[i - 1];
      const RegionRect& b = rects[i];
      // y-x banded: bands top-down, rectangles of one band share top and bottom, left to right.
      EXPECT_TRUE((b.top == a.top && b.bottom == a.bottom && b.left > a.right) || b.top >= a.bottom);
    }
    if (c.keyShare == 1.0 || c.width < 2) {
      EXPECT_TRUE(rects.empty());
    }
  }
}

TEST(OpaqueRegionRects, RowsWithTheSameRunsJoinIntoOneBand) {
  std::vector<std::uint8_t> pixels = Picture(8, 6, 0.0, 7);  // all opaque: one rectangle
  const auto rects = OpaqueRegionRects(pixels.data(), 8, 6, 32);
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0], (RegionRect{0, 0, 4, 6}));
}

struct CounterState {
  bool dotTyped;
  int typed, dotPos;
};

// What the counter has counted, told only by what it accepts: after k backspaces, is a point
// accepted? With no point counted the answers are "yes" for k < typed and "no" after; with one
// counted they are "no" until the backspace that takes it (k = typed - dotPos + 1), then "yes"
// while counted characters remain before it.
CounterState ProbeCounter(const TypedCounter& counter) {
  std::string answers;
  for (int backspaces = 0; backspaces < 64; ++backspaces) {
    TypedCounter copy = counter;
    for (int i = 0; i < backspaces; ++i) copy.Accept('\b');
    answers += copy.Accept('.') ? 'y' : 'n';
  }
  const auto yes = static_cast<int>(std::count(answers.begin(), answers.end(), 'y'));
  if (answers[0] == 'y') return {false, yes, -1};
  if (yes == 0) return {false, 0, -1};
  const auto noBeforeYes = static_cast<int>(answers.find('y'));  // typed - dotPos + 1
  const int dotPos = yes + 1;
  return {true, noBeforeYes + dotPos - 1, dotPos};
}

TEST(TypedCounter, AdmitsDigitsBackspaceAndOnePointAfterACountedCharacter) {
  struct Case {
    const char* keys;
    const char* accepted;  // one letter per key: y accepted, n discarded
    bool dotTyped;
    int typed, dotPos;
  } cases[] = {
      {"12.5.", "yyyyn", true, 4, 3},
      {".", "n", false, 0, -1},
      {"-+,e ", "nnnnn", false, 0, -1},
      {"1.\b.", "yyyy", true, 2, 2},               // the point can be typed anew after backspace took it
      {"1.5\b.", "yyyyn", true, 2, 2},             // backspace took the 5: the point stays counted
      {"\b\b", "yy", false, 0, -1},                // never below zero
      {"\x16\x03\x18\x1a", "nnnn", false, 0, -1},  // Ctrl+V, Ctrl+C, Ctrl+X, Ctrl+Z
      {"1\b\b.", "yyyn", false, 0, -1},
      {"12\b\b3.", "yyyyyy", true, 2, 2},
  };
  for (const Case& c : cases) {
    TypedCounter counter;
    std::string accepted;
    for (const char* key = c.keys; *key; ++key) accepted += counter.Accept(*key) ? 'y' : 'n';
    EXPECT_EQ(accepted, c.accepted) << c.keys;
    const CounterState state = ProbeCounter(counter);
    EXPECT_EQ(state.dotTyped, c.dotTyped) << c.keys;
    EXPECT_EQ(state.typed, c.typed) << c.keys;
    EXPECT_EQ(state.dotPos, c.dotPos) << c.keys;
  }
}

}  // namespace
