#include "keyed_pixels.h"

namespace {

bool IsKey(const std::uint8_t* pixel, ColorRef key) {
  return pixel[0] == ((key >> 16) & 0xFF) && pixel[1] == ((key >> 8) & 0xFF) && pixel[2] == (key & 0xFF);
}

struct Run {
  int left, right;
  friend bool operator==(const Run&, const Run&) = default;
};

std::vector<Run> RowRuns(const std::uint8_t* row, int columns) {
  std::vector<Run> runs;
  int x = 0;
  while (x < columns) {
    while (x < columns && IsKey(row + 4 * x, KEY_COLOR)) ++x;
    if (x == columns) break;
    const int left = x;
    while (x < columns && !IsKey(row + 4 * x, KEY_COLOR)) ++x;
    runs.push_back({left, x});
  }
  return runs;
}

void EmitBand(std::vector<RegionRect>& rects, const std::vector<Run>& runs, int top, int bottom) {
  for (const Run& run : runs) rects.push_back({run.left, top, run.right, bottom});
}

}  // namespace

void BlendKeyedPixels(std::uint8_t* source, const std::uint8_t* destination, std::size_t count, int alpha,
                      ColorRef key) {
  const unsigned a = static_cast<unsigned>(alpha);
  const unsigned rest = 255 - a;
  for (std::size_t i = 0; i < count; ++i, source += 4, destination += 4) {
    if (IsKey(source, key)) {
      source[0] = destination[0];
      source[1] = destination[1];
      source[2] = destination[2];
      continue;
    }
    for (int channel = 0; channel < 3; ++channel)
      source[channel] = static_cast<std::uint8_t>((a * source[channel] + rest * destination[channel]) >> 8);
  }
}

std::vector<RegionRect> OpaqueRegionRects(const std::uint8_t* pixels, int width, int height, std::size_t stride) {
  std::vector<RegionRect> rects;
  const int half = width / 2;
  if (half <= 0) return rects;
  std::vector<Run> band;
  int bandTop = 0;
  for (int y = 0; y < height; ++y) {
    std::vector<Run> runs = RowRuns(pixels + stride * static_cast<std::size_t>(y), half);
    if (runs == band) continue;
    EmitBand(rects, band, bandTop, y);
    band = std::move(runs);
    bandTop = y;
  }
  EmitBand(rects, band, bandTop, height);
  return rects;
}
