#include "update_key.h"

#ifndef ORVANE_UPDATE_KEY_HEX
#define ORVANE_UPDATE_KEY_HEX ""
#endif

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<UpdateKey> ParseUpdateKeyHex(std::string_view hex) {
  UpdateKey key{};
  if (hex.size() != key.size() * 2) return std::nullopt;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const int high = HexDigit(hex[2 * i]);
    const int low = HexDigit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    key[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return key;
}

const std::optional<UpdateKey>& BuildUpdateKey() {
  static const std::optional<UpdateKey> key = ParseUpdateKeyHex(ORVANE_UPDATE_KEY_HEX);
  return key;
}
