// The pure pixel rules on pictures of the skin's sizes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "keyed_pixels.h"

namespace {

// A pill of 93 x 27 with key-coloured corners, twice side by side, as the button skin is.
std::vector<std::uint8_t> ButtonLikePicture() {
  std::vector<std::uint8_t> pixels;
  for (int y = 0; y < 27; ++y)
    for (int x = 0; x < 186; ++x) {
      const int cx = x % 93 < 13 ? 13 : (x % 93 > 79 ? 79 : x % 93);
      const int dx = x % 93 - cx, dy = y - 13;
      const bool key = dx * dx + dy * dy > 13 * 13;
      pixels.insert(pixels.end(), {static_cast<std::uint8_t>(key ? 0xFF : 0xE0), 0, 0xFF, 0});
    }
  return pixels;
}

void OpaqueRegionRectsOfButton(benchmark::State& state) {
  const std::vector<std::uint8_t> pixels = ButtonLikePicture();
  for (auto _ : state) benchmark::DoNotOptimize(OpaqueRegionRects(pixels.data(), 186, 27, 186 * 4));
}
BENCHMARK(OpaqueRegionRectsOfButton);

void BlendKeyedPixelsOfFace(benchmark::State& state) {
  std::vector<std::uint8_t> source(400 * 400 * 4, 0x40), destination(400 * 400 * 4, 0x80);
  for (auto _ : state) {
    BlendKeyedPixels(source.data(), destination.data(), 400 * 400, 255, KEY_COLOR);
    benchmark::DoNotOptimize(source.data());
  }
}
BENCHMARK(BlendKeyedPixelsOfFace);

}  // namespace

BENCHMARK_MAIN();
