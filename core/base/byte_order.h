#pragma once

#include <bit>
#include <cstdint>

// The wire and the stored snapshot are little-endian whatever the host is, so every multi-byte
// value is put together byte by byte rather than copied from memory.

inline void StoreU16(std::uint8_t* out, std::uint16_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void StoreU32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint16_t LoadU16(const std::uint8_t* in) { return static_cast<std::uint16_t>(in[0] | (in[1] << 8)); }

inline std::uint32_t LoadU32(const std::uint8_t* in) {
  return std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) | (std::uint32_t{in[2]} << 16) |
         (std::uint32_t{in[3]} << 24);
}

inline void StoreFloat(std::uint8_t* out, float value) { StoreU32(out, std::bit_cast<std::uint32_t>(value)); }
inline float LoadFloat(const std::uint8_t* in) { return std::bit_cast<float>(LoadU32(in)); }
inline void StoreI32(std::uint8_t* out, std::int32_t value) { StoreU32(out, static_cast<std::uint32_t>(value)); }
inline std::int32_t LoadI32(const std::uint8_t* in) { return static_cast<std::int32_t>(LoadU32(in)); }
