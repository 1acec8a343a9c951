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
  m_selected = Selection(m_memory.Get(), m_offscreenBitmap.Get());
  SetWindowOrgEx(m_memory.Get(), m_rcClip.left, m_rcClip.top, nullptr);
  SetBkColor(m_memory.Get(), GetBkColor(target));
  ExtTextOutA(m_memory.Get(), 0, 0, ETO_OPAQUE, &m_rcClip, nullptr, 0, nullptr);  // fill in the background colour
}

OffscreenDC::~OffscreenDC() {
  if (!m_bOffscreen) return;
  BitBlt(m_pTargetDC, m_rcClip.left, m_rcClip.top, m_rcClip.right - m_rcClip.left, m_rcClip.bottom - m_rcClip.top,
         m_memory.Get(), m_rcClip.left, m_rcClip.top, SRCCOPY);
  // The members go in the reverse order of their declaration: the selection first, then the
  // bitmap, then the memory context.
}
