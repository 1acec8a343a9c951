#pragma once

#include <windows.h>

#include "handle.h"
#include "keyed_pixels.h"

// The header of a 32 bpp BI_RGB bitmap; a negative height lays the rows top-down.
BITMAPINFO Bitmap32Info(int width, int height);

// Combines the rectangle (srcX, srcY, srcW, srcH) of `source` into (x, y, w, h) of `destination`
// with the key colour and a constant opacity, scaling when the sizes differ. True when all copies
// succeeded; a failure before the last copy leaves the destination untouched.
bool BlendKeyed(HDC destination, int x, int y, int w, int h, HDC source, int srcX, int srcY, int srcW, int srcH,
                int alpha, COLORREF key);

// A bitmap that draws any piece of itself keyed and blended, measures itself and cuts a window
// region from its non-key pixels. It owns the bitmap it holds; an empty one draws nothing,
// measures 0 x 0 and yields no region.
class SkinBitmap {
 public:
  void Attach(HBITMAP bitmap) { m_bitmap.Reset(bitmap); }
  void DeleteObject() { m_bitmap.Reset(); }
  HBITMAP Get() const { return m_bitmap.Get(); }
  bool IsEmpty() const { return !m_bitmap; }

  // Draws `piece` of the picture (in picture coordinates) with its top-left at (x, y) of `target`,
  // the way every skin picture is drawn: key-colour pixels leave the target as it is, every other
  // pixel lands opaque, one step darker (BlendKeyed at full opacity).
  void Draw(HDC target, int x, int y, const RECT& piece) const;
  // The whole picture.
  void Draw(HDC target, int x, int y) const { Draw(target, x, y, RECT{0, 0, GetWidth(), GetHeight()}); }

  int GetWidth() const;
  int GetHeight() const;

  // The region of the non-key pixels of the picture's left half, in picture coordinates; the
  // caller owns it. Empty picture: no region. `pattern` may be null (the screen).
  RegionHandle CreateRegion(HDC pattern) const;

 private:
  BitmapHandle m_bitmap;
};
