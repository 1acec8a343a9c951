#pragma once

#include <string>
#include <string_view>

// A list of currencies as the converter sees it: each item carries a currency index as its
// data. It behaves as the Win32 combo box does: inserting or deleting keeps the same item
// selected at its new position, deleting the selected item leaves none selected, and selecting
// from the program sends no notification.
class CurrencyList {
 public:
  virtual ~CurrencyList() = default;
  virtual int Count() const = 0;
  virtual int ItemData(int position) const = 0;
  virtual int Selection() const = 0;  // -1: none
  virtual void Select(int position) = 0;
  virtual void Delete(int position) = 0;
  virtual void Insert(int position, int currency) = 0;  // position == Count() appends
};

// RON first, the others in ascending index order.
void InsertCurrency(CurrencyList& list, int currency);

// Position of the first item with that currency, or -1.
int FindCurrency(const CurrencyList& list, int currency);

// One of the converter's amount boxes. Setting the text raises the box's change notification
// at once, inside the call, as an edit control's EN_CHANGE does.
class AmountBox {
 public:
  virtual ~AmountBox() = default;
  virtual std::string Text() const = 0;
  virtual void SetText(std::string_view text) = 0;
};
