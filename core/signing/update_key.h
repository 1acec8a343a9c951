#pragma once

#include <optional>
#include <string_view>

#include "signing/signature_crypto.h"

// The public half of the key that every update must be signed with, compiled in by the build.
// Nothing when the build had no usable key: then no update is ever accepted.
const std::optional<UpdateKey>& BuildUpdateKey();

// 128 hex digits, X then Y; nothing for anything else. Usable at compile time, so that a program
// without the core's run-time parts (the launcher) holds the key as a constant.
constexpr std::optional<UpdateKey> ParseUpdateKeyHex(std::string_view hex) {
  constexpr auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  UpdateKey key{};
  if (hex.size() != key.size() * 2) return std::nullopt;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const int high = digit(hex[2 * i]);
    const int low = digit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    key[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return key;
}
