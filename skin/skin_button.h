#pragma once

#include "control.h"
#include "skin_bitmap.h"

// A push button of the template drawn as one of the two images of the button skin, which lie side
// by side (normal, or hover while the pointer rests on it), with its caption centred over it, and
// its window cut to the shape of the normal image and of its size. Clicks stay ordinary BN_CLICKED.
class SkinButton : public Control {
 public:
  SkinButton() { FollowHover(); }

  void OnDrawItem(const DRAWITEMSTRUCT& item) override;

  const SkinBitmap* m_pSkin = nullptr;  // borrowed from the owner; set before Bind

 protected:
  void OnBind() override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnHoverChanged() override;

 private:
  bool m_bShaped = false;  // the region has been given to the window, which owns it from then on
};
