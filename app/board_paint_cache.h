#pragma once

#include <windows.h>

#include <vector>

#include "handle.h"
#include "skin_bitmap.h"

// What the window paints that does not change from one paint to the next, made once and kept:
// keyed blending and text are costly under GDI, a block transfer or a brush handed back is not.

// The board as PaintBoard draws it (face, flags, labels), composed into a bitmap compatible with
// the paint's DC. It is composed again only when what it shows changes: another face, flag strip
// or font, or after Forget (the display's colour depth or the text's smoothing changed).
class BoardPicture {
 public:
  // Copies the board to (0, 0) of `dc`; composes it first if needed. Where GDI refuses the
  // bitmap, paints the board straight onto `dc` as before.
  void Paint(HDC dc, const SkinBitmap& background, const SkinBitmap& flagStrip, HFONT font);
  void Forget();

 private:
  bool Shows(const SkinBitmap& background, const SkinBitmap& flagStrip, HFONT font) const;
  bool Compose(HDC dc, const SkinBitmap& background, const SkinBitmap& flagStrip, HFONT font);

  // The picture stays selected into its own memory context between paints.
  MemoryDC m_memory;
  BitmapHandle m_picture;
  Selection m_selected;  // after the picture: deselects it before it is deleted
  int m_width = 0;
  int m_height = 0;
  // What the picture was composed from; compared, never used.
  HBITMAP m_background = nullptr;
  HBITMAP m_flagStrip = nullptr;
  HFONT m_font = nullptr;
};

// A pattern brush of the piece `place` of `face`, in a bitmap compatible with `dc`: a control at
// `place` (the face's coordinates) that paints its background with it shows the face through.
// Null where GDI refuses.
BrushHandle MakeFaceBrush(HDC dc, const RECT& place, const SkinBitmap& face);

// The face brushes of the controls, one for each place, made on first use and kept: the controls
// and the face stay where they are. Another face, or Forget, drops them all.
class FaceBrushes {
 public:
  // The brush stays valid until Forget, another face or the object's end.
  HBRUSH For(HDC dc, const RECT& place, const SkinBitmap& face);
  void Forget() { m_brushes.clear(); }

 private:
  struct Entry {
    RECT place;
    BrushHandle brush;
  };
  HBITMAP m_face = nullptr;  // compared, never used
  std::vector<Entry> m_brushes;
};
