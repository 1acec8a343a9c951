#pragma once

#include "control.h"
#include "skin_bitmap.h"

// A push button of the template drawn as one of the two 93 x 27 images of the button skin
// (normal, or hover while the pointer rests on it), with its caption centred over it, the hand
// cursor, and its window cut to the shape of the normal image. Clicks stay ordinary BN_CLICKED.
class SkinButton : public Control {
 public:
  void OnDrawItem(const DRAWITEMSTRUCT& item) override;

  bool m_bHover = false;
  bool m_bTracking = false;

 protected:
  void OnBind() override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  SkinBitmap m_skin;
  bool m_bShaped = false;  // the region has been given to the window, which owns it from then on
};
