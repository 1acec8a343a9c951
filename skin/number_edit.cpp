#include "number_edit.h"

#include <cstring>
#include <vector>

#include "base/scope_exit.h"
#include "handle.h"
#include "skin_palette.h"

std::string EditAmountBox::Text() const {
  const int length = GetWindowTextLengthA(m_edit.Handle());
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(m_edit.Handle(), text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

void EditAmountBox::SetText(std::string_view text) { SetWindowTextA(m_edit.Handle(), std::string(text).c_str()); }

std::optional<LRESULT> NumberEdit::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CHAR:
      // A character the counter refuses never reaches the edit control; Ctrl+C, Ctrl+V, Ctrl+X
      // and Ctrl+Z arrive here as control characters and go the same way.
      if (m_counter.Accept(static_cast<char>(wParam))) return std::nullopt;
      return 0;
    case WM_CONTEXTMENU:
      ShowContextMenu(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) != ID_COPY_VALUE) return std::nullopt;
      CopyValue();
      return 0;
    case WM_NCPAINT:
      DrawFrame();
      return 0;
    default:
      return std::nullopt;
  }
}

void NumberEdit::ShowContextMenu(int x, int y) {
  MenuHandle menu(CreatePopupMenu());
  if (!menu) return;
  AppendMenuA(menu.Get(), MF_STRING, ID_COPY_VALUE, "Copy");
  TrackPopupMenu(menu.Get(), 0, x, y, 0, m_hWnd, nullptr);
}

void NumberEdit::CopyValue() {
  const std::string text = m_amount.Text();
  if (!OpenClipboard(m_hWnd)) return;
  const ScopeExit close([] { CloseClipboard(); });
  EmptyClipboard();
  // Once emptied the clipboard has lost its old contents; when no block can be had it stays empty.
  GlobalMemory block(GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, text.size() + 1));
  if (!block) return;
  void* bytes = GlobalLock(block.Get());
  if (!bytes) return;
  std::memcpy(bytes, text.c_str(), text.size() + 1);
  GlobalUnlock(block.Get());
  if (SetClipboardData(CF_TEXT, block.Get())) block.Release();  // the clipboard owns it now
}

void NumberEdit::DrawFrame() {
  WindowDC dc = GetWholeWindowDC(m_hWnd);
  if (!dc) return;
  RECT window;
  GetWindowRect(m_hWnd, &window);
  SetWindowOrgEx(dc.Get(), window.left, window.top, nullptr);
  PenHandle pen(CreatePen(PS_SOLID, 2, m_bHover ? RGB(0, 0, 0) : SKIN_LIGHT_BLUE));
  Selection brush(dc.Get(), GetStockObject(NULL_BRUSH));
  Selection selectedPen(dc.Get(), pen.Get());
  Rectangle(dc.Get(), window.left + 1, window.top + 1, window.right, window.bottom);
}
