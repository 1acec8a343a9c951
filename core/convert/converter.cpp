#include "convert/converter.h"

#include "base/scope_exit.h"
#include "convert/amount.h"
#include "rates/currency.h"

namespace {

int SelectedCurrency(const CurrencyList& list) {
  const int selection = list.Selection();
  return selection < 0 ? -1 : list.ItemData(selection);
}

}  // namespace

Converter::Converter(CurrencyList& fromList, AmountBox& fromEdit, CurrencyList& toList, AmountBox& toEdit,
                     const SharedRates& rates)
    : m_fromList(fromList), m_fromEdit(fromEdit), m_toList(toList), m_toEdit(toEdit), m_rates(rates) {}

void Converter::FillLists() {
  for (int i = 0; i < CURRENCY_COUNT; ++i) {
    InsertCurrency(m_fromList, i);
    InsertCurrency(m_toList, i);
  }
}

void Converter::Begin() {
  m_fromList.Select(0);  // RON
  m_toList.Select(1);    // EUR
  OnCbnSelendokFromCombo();
  OnCbnSelendokToCombo();
}

void Converter::OnEnChangeFromEdit() {
  Convert(m_fromEdit, SelectedCurrency(m_fromList), m_toEdit, SelectedCurrency(m_toList));
}

void Converter::OnEnChangeToEdit() {
  Convert(m_toEdit, SelectedCurrency(m_toList), m_fromEdit, SelectedCurrency(m_fromList));
}

void Converter::Convert(const AmountBox& source, int sourceCurrency, AmountBox& target, int targetCurrency) {
  // Writing the result raises the target's change notification at once; the flag keeps that
  // from converting back into the source.
  if (m_converting) return;
  if (sourceCurrency < 0 || targetCurrency < 0) return;  // a side without a choice has nothing to show
  m_converting = 1;
  const ScopeExit done([this] { m_converting = 0; });
  target.SetText(ConvertAmount(source.Text(), sourceCurrency, targetCurrency, m_rates.Load()));
}

bool Converter::HoldOut(const CurrencyList& chosen, CurrencyList& other, int& heldOut) {
  const int currency = SelectedCurrency(chosen);
  if (currency < 0) return false;
  const int otherSelection = other.Selection();
  const int position = FindCurrency(other, currency);
  if (position == -1) return false;  // chosen again: it is held out already
  other.Delete(position);
  if (position == otherSelection) other.Select(0);
  if (heldOut != -1) InsertCurrency(other, heldOut);
  heldOut = currency;
  return true;
}

void Converter::OnCbnSelendokFromCombo() {
  if (HoldOut(m_fromList, m_toList, m_fromCurrency)) OnEnChangeToEdit();
}

void Converter::OnCbnSelendokToCombo() {
  if (HoldOut(m_toList, m_fromList, m_toCurrency)) OnEnChangeFromEdit();
}
