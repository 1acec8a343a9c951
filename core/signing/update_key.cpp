#include "signing/update_key.h"

#ifndef ORVANE_UPDATE_KEY_HEX
#define ORVANE_UPDATE_KEY_HEX ""
#endif

const std::optional<UpdateKey>& BuildUpdateKey() {
  static const std::optional<UpdateKey> key = ParseUpdateKeyHex(ORVANE_UPDATE_KEY_HEX);
  return key;
}
