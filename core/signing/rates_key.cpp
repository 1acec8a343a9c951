#include "signing/rates_key.h"

#include "signing/update_key.h"

#ifndef ORVANE_RATES_KEY_HEX
#define ORVANE_RATES_KEY_HEX ""
#endif

const std::optional<UpdateKey>& BuildRatesKey() {
  static const std::optional<UpdateKey> key = ParseUpdateKeyHex(ORVANE_RATES_KEY_HEX);
  return key;
}
