#pragma once

#include <optional>
#include <string_view>

#include "signature_crypto.h"

// The public half of the key that every update must be signed with, compiled in by the build.
// Nothing when the build had no usable key: then no update is ever accepted.
const std::optional<UpdateKey>& BuildUpdateKey();

// 128 hex digits, X then Y; nothing for anything else.
std::optional<UpdateKey> ParseUpdateKeyHex(std::string_view hex);
