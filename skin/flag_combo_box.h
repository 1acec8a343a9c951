#pragma once

#include <string>

#include "control.h"
#include "convert/currency_list.h"
#include "skin_bitmap.h"

// The converter's list on a combo box: items carry a currency index as their data and no text.
class ComboCurrencyList final : public CurrencyList {
 public:
  explicit ComboCurrencyList(const Control& combo) : m_combo(combo) {}
  int Count() const override;
  int ItemData(int position) const override;
  int Selection() const override;
  void Select(int position) override;
  void Delete(int position) override;
  void Insert(int position, int currency) override;

 private:
  const Control& m_combo;
};

// The owner-drawn drop-down list in which a currency is picked: every item shows its flag from
// the flag strip and its label in white on blue. The closed control is painted entirely here,
// through an OffscreenDC, with no drop-down arrow and a light frame while the pointer rests on it.
class FlagComboBox : public Control {
 public:
  FlagComboBox() { FollowHover(); }

  CurrencyList& Items() { return m_items; }

  // The label of the selected currency, empty when nothing is selected.
  std::string SelectedLabel() const;
  // Announces the selection to screen readers when it differs from the one announced last;
  // true when it did.
  bool AnnounceSelection();

  void OnDrawItem(const DRAWITEMSTRUCT& item) override;
  void OnMeasureItem(MEASUREITEMSTRUCT& item) override;

  const SkinBitmap* m_pFlagStrip = nullptr;  // borrowed from the owner
  const char* const* m_pLabels = nullptr;    // borrowed: indexed by currency index

 protected:
  void OnBind() override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnHoverChanged() override;

 private:
  void OnPaint();
  ComboCurrencyList m_items{*this};
  std::string m_announcedLabel;
};
