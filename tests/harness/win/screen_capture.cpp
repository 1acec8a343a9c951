#include "screen_capture.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "skin_bitmap.h"
#include "store/file_io.h"

namespace {

Picture ReadFromDC(HDC source, int x, int y, int width, int height) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.bgrx.resize(static_cast<std::size_t>(width) * height * 4);
  BITMAPINFO info = Bitmap32Info(width, -height);
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(source);
  HGDIOBJ previous = SelectObject(memory, section);
  BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
  GdiFlush();
  std::copy_n(static_cast<std::uint8_t*>(bits), picture.bgrx.size(), picture.bgrx.begin());
  SelectObject(memory, previous);
  DeleteDC(memory);
  DeleteObject(section);
  return picture;
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length, std::uint32_t crc = 0) {
  crc = ~crc;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  std::vector<std::uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  PutBigEndian(out, Crc32(body.data(), body.size()));
}

}  // namespace

Picture CaptureScreen(const RECT& rect) {
  HDC screen = GetDC(nullptr);
  Picture picture = ReadFromDC(screen, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  ReleaseDC(nullptr, screen);
  return picture;
}

Picture ReadBitmap(HBITMAP bitmap) {
  BITMAP info{};
  GetObjectA(bitmap, sizeof info, &info);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  Picture picture = ReadFromDC(memory, 0, 0, info.bmWidth, info.bmHeight);
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return picture;
}

bool WritePng(const Picture& picture, const std::string& path) {
  std::vector<std::uint8_t> raw;  // filter byte 0, then RGB, per row
  for (int y = 0; y < picture.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < picture.width; ++x) {
      const std::uint8_t* p = &picture.bgrx[(static_cast<std::size_t>(y) * picture.width + x) * 4];
      raw.insert(raw.end(), {p[2], p[1], p[0]});
    }
  }
  // zlib stream of stored blocks.
  std::vector<std::uint8_t> zlib = {0x78, 0x01};
  for (std::size_t at = 0; at < raw.size() || at == 0;) {
    const std::size_t length = std::min<std::size_t>(65535, raw.size() - at);
    const bool last = at + length == raw.size();
    zlib.push_back(last ? 1 : 0);
    zlib.insert(zlib.end(), {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                             static_cast<std::uint8_t>(~length), static_cast<std::uint8_t>(~length >> 8)});
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                raw.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
    if (last) break;
  }
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t value : raw) {
    a = (a + value) % 65521;
    b = (b + a) % 65521;
  }
  PutBigEndian(zlib, (b << 16) | a);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBigEndian(header, static_cast<std::uint32_t>(picture.width));
  PutBigEndian(header, static_cast<std::uint32_t>(picture.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", zlib);
  PutChunk(png, "IEND", {});

  FileStream file(path, "wb");
  if (!file) return false;
  const bool written = std::fwrite(png.data(), 1, png.size(), file.Get()) == png.size();
  return file.Close() && written;
}

COLORREF Darkened(COLORREF color) {
  auto step = [](unsigned v) { return (255 * v) >> 8; };
  return RGB(step(GetRValue(color)), step(GetGValue(color)), step(GetBValue(color)));
}
