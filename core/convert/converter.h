#pragma once

#include "convert/currency_list.h"
#include "rates/shared_rates.h"

// The two-way converter of the main window: a from side and a to side, each a currency list
// and an amount box. The lists hold each other's current currency out, so the two sides never
// show the same currency. The window calls the handlers from the controls' notifications.
class Converter {
 public:
  Converter(CurrencyList& fromList, AmountBox& fromEdit, CurrencyList& toList, AmountBox& toEdit,
            const SharedRates& rates);

  // Start-up, in two steps around the loading of the saved rates: FillLists puts all nineteen
  // currencies into both lists; Begin selects RON to EUR and runs both selection handlers.
  void FillLists();
  void Begin();

  void OnEnChangeFromEdit();
  void OnEnChangeToEdit();
  void OnCbnSelendokFromCombo();
  void OnCbnSelendokToCombo();

  int m_toCurrency = -1;    // held out of the from list; -1 until chosen
  int m_fromCurrency = -1;  // held out of the to list; -1 until chosen

 private:
  void Convert(const AmountBox& source, int sourceCurrency, AmountBox& target, int targetCurrency);
  // Takes the chosen currency of `chosen` out of `other` and gives back the one chosen before.
  bool HoldOut(const CurrencyList& chosen, CurrencyList& other, int& heldOut);

  CurrencyList& m_fromList;
  AmountBox& m_fromEdit;
  CurrencyList& m_toList;
  AmountBox& m_toEdit;
  const SharedRates& m_rates;
  int m_converting = 0;  // set while an amount handler writes its result
};
