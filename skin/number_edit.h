#pragma once

#include <string>
#include <string_view>

#include "control.h"
#include "convert/currency_list.h"
#include "typed_counter.h"

// The converter's amount box on an edit control. Setting the text raises EN_CHANGE at once.
class EditAmountBox final : public AmountBox {
 public:
  explicit EditAmountBox(const Control& edit) : m_edit(edit) {}
  std::string Text() const override;
  void SetText(std::string_view text) override;

 private:
  const Control& m_edit;
};

inline constexpr UINT ID_COPY_VALUE = 35000;

// An amount box: admits only digits, backspace and one decimal point, offers a one-item "Copy"
// menu that puts the whole text on the clipboard, and draws its own 2-pixel frame, black while
// the pointer rests on it and in the box's background colour otherwise.
class NumberEdit : public Control {
 public:
  NumberEdit() { FollowHover(); }

  AmountBox& Amount() { return m_amount; }

 protected:
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnHoverChanged() override { DrawFrame(); }

 private:
  void ShowContextMenu(int x, int y);
  void CopyValue();
  void DrawFrame();

  TypedCounter m_counter;
  EditAmountBox m_amount{*this};
};
