#include "convert/currency_list.h"

#include "rates/currency.h"

void InsertCurrency(CurrencyList& list, int currency) {
  if (currency == RON_INDEX) {
    list.Insert(0, currency);
    return;
  }
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    const int data = list.ItemData(i);
    if (data != RON_INDEX && data > currency) {
      list.Insert(i, currency);
      return;
    }
  }
  list.Insert(count, currency);
}

int FindCurrency(const CurrencyList& list, int currency) {
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    if (list.ItemData(i) == currency) return i;
  }
  return -1;
}
