#include "offscreen_dc.h"

OffscreenDC::OffscreenDC(HDC target)
    : m_pTargetDC(target), m_bOffscreen(GetDeviceCaps(target, TECHNOLOGY) != DT_RASPRINTER) {
  if (!m_bOffscreen) return;
  GetClipBox(target, &m_rcClip);
  m_memory.Reset(CreateCompatibleDC(target));
  m_offscreenBitmap.Reset(
      CreateCompatibleBitmap(target, m_rcClip.right - m_rcClip.left, m_rcClip.bottom - m_rcClip.top));
  if (!m_memory || !m_offscreenBitmap) {  // no buffer to be had: draw straight to the target
    m_bOffscreen = FALSE;
    return;
  }
  m_pPrevBitmap = SelectObject(m_memory.Get(), m_offscreenBitmap.Get());
  SetWindowOrgEx(m_memory.Get(), m_rcClip.left, m_rcClip.top, nullptr);
  SetBkColor(m_memory.Get(), GetBkColor(target));
  ExtTextOutA(m_memory.Get(), 0, 0, ETO_OPAQUE, &m_rcClip, nullptr, 0, nullptr);  // fill in the background colour
}

OffscreenDC::~OffscreenDC() {
  if (!m_bOffscreen) return;
  BitBlt(m_pTargetDC, m_rcClip.left, m_rcClip.top, m_rcClip.right - m_rcClip.left, m_rcClip.bottom - m_rcClip.top,
         m_memory.Get(), m_rcClip.left, m_rcClip.top, SRCCOPY);
  SelectObject(m_memory.Get(), m_pPrevBitmap);
  // m_memory and m_offscreenBitmap are deleted in the reverse order of their declaration: the
  // bitmap first, once it is no longer selected, then the memory context.
}
