#include "board_paint_cache.h"

#include "rates_board.h"

namespace {
// Far more places than the window has controls: only controls that keep moving get here, and
// they then cost what they did before the brushes were kept.
constexpr std::size_t MAX_FACE_BRUSHES = 64;
}  // namespace

void BoardPicture::Forget() {
  m_selected = Selection();
  m_picture.Reset();
  m_memory.Reset();
}

bool BoardPicture::Shows(const SkinBitmap& background, const SkinBitmap& flagStrip, HFONT font) const {
  return m_picture && m_background == background.Get() && m_flagStrip == flagStrip.Get() && m_font == font;
}

bool BoardPicture::Compose(HDC dc, const SkinBitmap& background, const SkinBitmap& flagStrip, HFONT font) {
  Forget();
  m_width = background.GetWidth();
  m_height = background.GetHeight();
  m_memory.Reset(CreateCompatibleDC(dc));
  // Compatible with the paint's context, as the window is: the face lands in the same pixel format
  // and the labels are smoothed as they would be on the window.
  m_picture.Reset(CreateCompatibleBitmap(dc, m_width, m_height));
  if (m_memory && m_picture) m_selected = Selection(m_memory.Get(), m_picture.Get());
  if (!m_selected.Succeeded()) {
    Forget();
    return false;
  }
  // The face's key pixels keep what lies under them: here black, outside the window's region.
  PatBlt(m_memory.Get(), 0, 0, m_width, m_height, BLACKNESS);
  PaintBoard(m_memory.Get(), background, flagStrip, font);
  m_background = background.Get();
  m_flagStrip = flagStrip.Get();
  m_font = font;
  return true;
}

void BoardPicture::Paint(HDC dc, const SkinBitmap& background, const SkinBitmap& flagStrip, HFONT font) {
  // Without a face there is nothing to size the picture by: flags and labels go straight on.
  if (background.IsEmpty() || (!Shows(background, flagStrip, font) && !Compose(dc, background, flagStrip, font))) {
    PaintBoard(dc, background, flagStrip, font);
    return;
  }
  BitBlt(dc, 0, 0, m_width, m_height, m_memory.Get(), 0, 0, SRCCOPY);
}

BrushHandle MakeFaceBrush(HDC dc, const RECT& place, const SkinBitmap& face) {
  BitmapHandle piece(CreateCompatibleBitmap(dc, place.right - place.left, place.bottom - place.top));
  if (!piece) return BrushHandle();
  {
    MemoryDC memory(CreateCompatibleDC(dc));
    Selection selected(memory.Get(), piece.Get());
    if (selected.Succeeded()) face.Draw(memory.Get(), 0, 0, place);
  }
  // The brush holds its own copy of the pattern, so the bitmap can go.
  return BrushHandle(CreatePatternBrush(piece.Get()));
}

HBRUSH FaceBrushes::For(HDC dc, const RECT& place, const SkinBitmap& face) {
  if (m_face != face.Get()) {
    Forget();
    m_face = face.Get();
  }
  for (const Entry& entry : m_brushes)
    if (EqualRect(&entry.place, &place)) return entry.brush.Get();
  if (m_brushes.size() >= MAX_FACE_BRUSHES) Forget();
  BrushHandle brush = MakeFaceBrush(dc, place, face);
  if (!brush) return nullptr;
  m_brushes.push_back({place, std::move(brush)});
  return m_brushes.back().brush.Get();
}
