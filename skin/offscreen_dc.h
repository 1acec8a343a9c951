#pragma once

#include <windows.h>

#include "handle.h"

// A double buffer over a target device context: drawing goes into a memory bitmap the size of
// the target's clip box, in the target's logical coordinates, and the destructor copies it to the
// target in one block transfer. A printing target is drawn to directly.
class OffscreenDC {
 public:
  explicit OffscreenDC(HDC target);
  ~OffscreenDC();
  OffscreenDC(const OffscreenDC&) = delete;
  OffscreenDC& operator=(const OffscreenDC&) = delete;

  HDC Get() const { return m_bOffscreen ? m_memory.Get() : m_pTargetDC; }

 private:
  HDC m_pTargetDC;
  RECT m_rcClip{};
  BOOL m_bOffscreen;
  MemoryDC m_memory;
  BitmapHandle m_offscreenBitmap;
  Selection m_selected;  // after the bitmap: deselects it before it is deleted
};
