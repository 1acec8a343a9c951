#include "skin_button.h"

#include "hand_cursor.h"

#include <string>

#include "module.h"
#include "resource.h"

namespace {
constexpr int IMAGE_WIDTH = 93;  // also the hover image's source x
constexpr int IMAGE_HEIGHT = 27;
}  // namespace

void SkinButton::OnBind() {
  m_skin.Attach(LoadModuleBitmap(IDB_BUTTON));
  const LONG style = GetWindowLongA(m_hWnd, GWL_STYLE);
  Send(BM_SETSTYLE, (style & 0xFF) | BS_OWNERDRAW, TRUE);
  // The button takes the size of one state image in place of the template's; without
  // SWP_NOZORDER it also moves to the top of its siblings, which sets the Tab order.
  SetWindowPos(m_hWnd, nullptr, 0, 0, m_skin.GetWidth() / 2, m_skin.GetHeight(), SWP_NOMOVE | SWP_SHOWWINDOW);
}

void SkinButton::OnDrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;  // the caller's: neither deleted nor released here
  if (!m_bShaped) {
    RegionHandle region = m_skin.CreateRegion(dc);
    if (region && SetWindowRgn(m_hWnd, region.Get(), TRUE)) region.Release();  // the window owns it now
    m_bShaped = !m_skin.IsEmpty();
  }
  if (m_bHover) {
    m_skin.Draw(dc, 0, 0, IMAGE_WIDTH, 0, IMAGE_WIDTH, IMAGE_HEIGHT, 255, KEY_COLOR, true);
  } else {
    m_skin.Draw(dc, 0, 0, 0, 0, IMAGE_WIDTH, IMAGE_HEIGHT, 255, KEY_COLOR, true);
    SetTextColor(dc, RGB(0, 0, 0));
  }
  char caption[64] = {};
  const int length = GetWindowTextA(m_hWnd, caption, sizeof caption);
  SetBkMode(dc, TRANSPARENT);
  RECT rect = item.rcItem;
  DrawTextA(dc, caption, length, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

std::optional<LRESULT> SkinButton::OnMessage(UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;
    case WM_MOUSEMOVE:
      if (!m_bTracking) m_bTracking = TrackHoverAndLeave(m_hWnd);
      return std::nullopt;
    case WM_MOUSEHOVER:
      m_bHover = true;
      RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
      return 1;
    case WM_MOUSELEAVE:
      m_bHover = false;
      m_bTracking = false;
      InvalidateRect(m_hWnd, nullptr, TRUE);
      UpdateWindow(m_hWnd);
      return 1;
    case WM_SETCURSOR:
      return SetHandCursor();
    default:
      return std::nullopt;
  }
}
