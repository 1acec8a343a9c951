#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The pixel rules of the skin, free of any platform: pictures arrive as 32-bit pixels in the
// memory order blue, green, red, fourth byte, as a 32 bpp DIB section holds them.

// A COLORREF: red in the lowest byte, then green, then blue.
using ColorRef = std::uint32_t;

// Pixels of this colour are transparent in every skin picture and lie outside its regions.
inline constexpr ColorRef KEY_COLOR = 0xFF00FF;

// Blends `count` source pixels over the destination pixels at the same places, writing the result
// into `source`. A pixel exactly of `key` keeps the destination; any other channel becomes
// (alpha * s + (255 - alpha) * d) >> 8, a division by 256 that makes an opaque draw one step
// darker. The fourth byte is never touched.
void BlendKeyedPixels(std::uint8_t* source, const std::uint8_t* destination, std::size_t count, int alpha,
                      ColorRef key);

struct RegionRect {
  int left, top, right, bottom;
  friend bool operator==(const RegionRect&, const RegionRect&) = default;
};

// The region of a picture of `width` x `height` pixels, rows top-down with `stride` bytes each:
// the union of the unit squares of the pixels in the left half (columns 0 to width / 2 - 1) whose
// colour is not KEY_COLOR. Built from the horizontal runs of each row, with rows of identical runs
// joined into one band, so the rectangles are y-x banded as a region's own data is.
std::vector<RegionRect> OpaqueRegionRects(const std::uint8_t* pixels, int width, int height, std::size_t stride);
