#include "skin_button.h"

#include "skin_palette.h"

namespace {
// The focus frame lies this far inside the image's edges: inside the pill's shape at every corner,
// around the caption.
constexpr int FOCUS_FRAME_INSET = 4;
const SkinBitmap NO_SKIN;  // what a button without a skin draws: nothing
}  // namespace

void SkinButton::OnBind() {
  const SkinBitmap& skin = m_pSkin ? *m_pSkin : NO_SKIN;
  const LONG style = GetWindowLongA(m_hWnd, GWL_STYLE);
  Send(BM_SETSTYLE, (style & 0xFF) | BS_OWNERDRAW, TRUE);
  // The button takes the size of one state image in place of the template's; without
  // SWP_NOZORDER it also moves to the top of its siblings, which sets the Tab order.
  SetWindowPos(m_hWnd, nullptr, 0, 0, skin.GetWidth() / 2, skin.GetHeight(), SWP_NOMOVE | SWP_SHOWWINDOW);
}

void SkinButton::OnDrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;  // the caller's: neither deleted nor released here
  const SkinBitmap& skin = m_pSkin ? *m_pSkin : NO_SKIN;
  if (!m_bShaped) {
    RegionHandle region = skin.CreateRegion(dc);
    if (region && SetWindowRgn(m_hWnd, region.Get(), TRUE)) region.Release();  // the window owns it now
    m_bShaped = !skin.IsEmpty();
  }
  // The skin holds two images side by side: at rest on the left, under the pointer on the right.
  const int width = skin.GetWidth() / 2;
  const int height = skin.GetHeight();
  if (m_bHover) {
    skin.Draw(dc, 0, 0, RECT{width, 0, 2 * width, height});
  } else {
    skin.Draw(dc, 0, 0, RECT{0, 0, width, height});
    SetTextColor(dc, RGB(0, 0, 0));
  }
  char caption[64] = {};
  const int length = GetWindowTextA(m_hWnd, caption, sizeof caption);
  SetBkMode(dc, TRANSPARENT);
  RECT rect = item.rcItem;
  DrawTextA(dc, caption, length, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (m_bShowFocus && (item.itemState & ODS_FOCUS))
    DrawLightFrame(dc,
                   RECT{FOCUS_FRAME_INSET, FOCUS_FRAME_INSET, width - FOCUS_FRAME_INSET, height - FOCUS_FRAME_INSET});
}

std::optional<LRESULT> SkinButton::OnMessage(UINT message, WPARAM, LPARAM) {
  if (message == WM_ERASEBKGND) return TRUE;
  return std::nullopt;
}

void SkinButton::OnHoverChanged() {
  RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}
