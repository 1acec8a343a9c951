#include "skin_bitmap.h"

#include <cstdint>
#include <vector>

BITMAPINFO Bitmap32Info(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

namespace {

// A w x h, 32 bpp, bottom-up DIB section; both working surfaces share this layout, so the same
// byte offset addresses the same pixel in each.
BitmapHandle CreateSurface(HDC dc, int w, int h, std::uint8_t*& bits) {
  BITMAPINFO info = Bitmap32Info(w, h);
  void* memory = nullptr;
  BitmapHandle surface(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0));
  bits = surface ? static_cast<std::uint8_t*>(memory) : nullptr;
  return surface;
}

}  // namespace

bool BlendKeyed(HDC destination, int x, int y, int w, int h, HDC source, int srcX, int srcY, int srcW, int srcH,
                int alpha, COLORREF key) {
  if (w <= 0 || h <= 0) return false;
  std::uint8_t* sourceBits = nullptr;
  std::uint8_t* destinationBits = nullptr;
  BitmapHandle sourceSurface = CreateSurface(source, w, h, sourceBits);
  BitmapHandle destinationSurface = CreateSurface(destination, w, h, destinationBits);
  if (!sourceSurface || !destinationSurface) return false;

  {
    MemoryDC work(CreateCompatibleDC(destination));
    if (!work) return false;
    bool copied;
    {
      Selection selected(work.Get(), sourceSurface.Get());
      copied = selected.Succeeded() && StretchBlt(work.Get(), 0, 0, w, h, source, srcX, srcY, srcW, srcH, SRCCOPY);
    }
    {
      Selection selected(work.Get(), destinationSurface.Get());
      copied = copied && selected.Succeeded() && StretchBlt(work.Get(), 0, 0, w, h, destination, x, y, w, h, SRCCOPY);
    }
    if (!copied) return false;
  }
  GdiFlush();  // the copies must have landed in the pixel memory before it is read

  BlendKeyedPixels(sourceBits, destinationBits, static_cast<std::size_t>(w) * static_cast<std::size_t>(h), alpha, key);

  MemoryDC work(CreateCompatibleDC(destination));
  if (!work) return false;
  Selection selected(work.Get(), sourceSurface.Get());
  return selected.Succeeded() && BitBlt(destination, x, y, w, h, work.Get(), 0, 0, SRCCOPY);
}

void SkinBitmap::Draw(HDC target, int x, int y, const RECT& piece) const {
  if (IsEmpty()) return;
  MemoryDC memory(CreateCompatibleDC(target));
  if (!memory) return;
  Selection selected(memory.Get(), m_bitmap.Get());
  if (!selected.Succeeded()) return;
  const int width = piece.right - piece.left;
  const int height = piece.bottom - piece.top;
  BlendKeyed(target, x, y, width, height, memory.Get(), piece.left, piece.top, width, height, 255, KEY_COLOR);
}

int SkinBitmap::GetWidth() const {
  BITMAP info{};
  return !IsEmpty() && GetObjectA(m_bitmap.Get(), sizeof info, &info) ? info.bmWidth : 0;
}

int SkinBitmap::GetHeight() const {
  BITMAP info{};
  return !IsEmpty() && GetObjectA(m_bitmap.Get(), sizeof info, &info) ? info.bmHeight : 0;
}

RegionHandle SkinBitmap::CreateRegion(HDC pattern) const {
  if (IsEmpty()) return RegionHandle();
  const int width = GetWidth();
  const int height = GetHeight();

  // Read the picture once as top-down 32 bpp pixels instead of a GetPixel per pixel.
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  BITMAPINFO info = Bitmap32Info(width, -height);
  MemoryDC memory(CreateCompatibleDC(pattern));
  if (!memory || GetDIBits(memory.Get(), m_bitmap.Get(), 0, static_cast<UINT>(height), pixels.data(), &info,
                           DIB_RGB_COLORS) != height)
    return RegionHandle(CreateRectRgn(0, 0, width / 2, height));  // unreadable pixels count as opaque

  const std::vector<RegionRect> rects =
      OpaqueRegionRects(pixels.data(), width, height, static_cast<std::size_t>(width) * 4);
  std::vector<std::uint8_t> data(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
  auto* region = reinterpret_cast<RGNDATA*>(data.data());
  region->rdh.dwSize = sizeof(RGNDATAHEADER);
  region->rdh.iType = RDH_RECTANGLES;
  region->rdh.nCount = static_cast<DWORD>(rects.size());
  region->rdh.nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
  region->rdh.rcBound = {0, 0, width / 2, height};
  auto* out = reinterpret_cast<RECT*>(region->Buffer);
  for (std::size_t i = 0; i < rects.size(); ++i)
    out[i] = {rects[i].left, rects[i].top, rects[i].right, rects[i].bottom};
  if (rects.empty()) return RegionHandle(CreateRectRgn(0, 0, 0, 0));
  return RegionHandle(ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), region));
}
