#pragma once

#include <array>
#include <cstdint>

#include "base/byte_order.h"
#include "rates/currency.h"

// The rates service's protocol: one TCP connection per command, an 8-byte request of two
// little-endian int32 (command, argument), and a raw little-endian reply of known length.
inline constexpr std::uint16_t RATES_PORT = 9000;

inline constexpr std::int32_t CMD_GET_RATES = 1;         // argument 1; reply: RateTable, 72 bytes
inline constexpr std::int32_t CMD_GET_UPDATE_FILE = 2;   // argument 0; reply: the file, then close
inline constexpr std::int32_t CMD_GET_VERSION = 3;       // argument 1; reply: float32 version
inline constexpr std::int32_t CMD_GET_UPDATE_SIZE = 4;   // argument 1; reply: int32 file size
inline constexpr std::int32_t CMD_GET_SIGNED_RATES = 5;  // argument 1; reply: the signed rates record, 160 bytes

inline constexpr int REQUEST_BYTES = 8;
inline constexpr int RATES_REPLY_BYTES = static_cast<int>(RATE_TABLE_BYTES);
inline constexpr int VERSION_REPLY_BYTES = 4;
inline constexpr int SIZE_REPLY_BYTES = 4;
inline constexpr int SIGNED_RATES_REPLY_BYTES = 160;

// The version of the released library, and what services answer when they offer nothing; in
// little-endian order the bytes CD CC 8C 3F. A library built as another version says so in its
// client's configuration.
inline constexpr float CLIENT_VERSION = 1.1f;

inline constexpr int DOWNLOAD_CHUNK_SIZE = 4096;
// No library of ours comes near this; a larger announcement is not believed.
inline constexpr std::int32_t MAX_UPDATE_SIZE = 64 * 1024 * 1024;

using Request = std::array<std::uint8_t, REQUEST_BYTES>;

inline Request EncodeRequest(std::int32_t command, std::int32_t argument) {
  Request request{};
  StoreI32(request.data(), command);
  StoreI32(request.data() + 4, argument);
  return request;
}
