#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "rates/currency.h"
#include "rates/rates_info.h"
#include "update/update_signature.h"

// The signed rates record, the whole reply to CMD_GET_SIGNED_RATES, 160 bytes:
//   0-7    "ORVRTS01"
//   8-11   the rates' date, uint32 little-endian YYYYMMDD
//   12-15  the source, "BNR" or "ECB" padded with NUL
//   16-87  the 18 rates, as CMD_GET_RATES sends them
//   88-95  the key id: the first 8 bytes of the SHA-256 of the rates key's X and Y
//   96-159 ECDSA P-256 signature, r then s, over the SHA-256 of bytes 0-95
inline constexpr char RATES_RECORD_MAGIC[] = "ORVRTS01";
inline constexpr std::size_t RATES_RECORD_MAGIC_BYTES = 8;
inline constexpr std::size_t RATES_RECORD_SIGNED_BYTES = 96;
inline constexpr std::size_t RATES_RECORD_BYTES = RATES_RECORD_SIGNED_BYTES + 64;

using RatesRecordBytes = std::array<std::uint8_t, RATES_RECORD_BYTES>;

struct RatesRecord {
  RatesInfo info;
  RateTable rates{};
  KeyId keyId{};
  RawSignature signature{};
};

// The fields of exactly 160 bytes that begin with the magic and carry a real date and a known
// source; nothing for anything else. The signature is not checked here.
std::optional<RatesRecord> ParseRatesRecord(std::span<const std::uint8_t> bytes);

// Bytes 0-95 of a record of `info` and `rates` by the key `keyId`: what the signature covers.
std::array<std::uint8_t, RATES_RECORD_SIGNED_BYTES> EncodeSignedPart(const RatesInfo& info, const RateTable& rates,
                                                                     const KeyId& keyId);
RatesRecordBytes EncodeRatesRecord(const RatesRecord& record);

enum class RecordCheck { Valid, Malformed, OtherKey, BadSignature };
const char* DescribeRecordCheck(RecordCheck check);

// Whether `bytes` are a whole record by `key` whose signature covers its first 96 bytes.
RecordCheck CheckRatesRecord(std::span<const std::uint8_t> bytes, const UpdateKey& key);

// The record, only when it is valid for `key`.
std::optional<RatesRecord> VerifiedRatesRecord(std::span<const std::uint8_t> bytes, const UpdateKey& key);
