#include "net/rates_record.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace {

constexpr std::size_t INFO_OFFSET = RATES_RECORD_MAGIC_BYTES;
constexpr std::size_t RATES_OFFSET = INFO_OFFSET + RATES_INFO_BYTES;
constexpr std::size_t KEY_ID_OFFSET = RATES_OFFSET + RATE_TABLE_BYTES;
constexpr std::size_t SIGNATURE_OFFSET = KEY_ID_OFFSET + KEY_ID_BYTES;
static_assert(SIGNATURE_OFFSET == RATES_RECORD_SIGNED_BYTES);

}  // namespace

std::optional<RatesRecord> ParseRatesRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != RATES_RECORD_BYTES) return std::nullopt;
  if (std::memcmp(bytes.data(), RATES_RECORD_MAGIC, RATES_RECORD_MAGIC_BYTES) != 0) return std::nullopt;
  const auto info = DecodeRatesInfo(bytes.subspan(INFO_OFFSET, RATES_INFO_BYTES));
  if (!info) return std::nullopt;
  RatesRecord record;
  record.info = *info;
  record.rates = DecodeRateTable(bytes.subspan<RATES_OFFSET, RATE_TABLE_BYTES>());
  std::copy_n(bytes.begin() + KEY_ID_OFFSET, KEY_ID_BYTES, record.keyId.begin());
  std::copy_n(bytes.begin() + SIGNATURE_OFFSET, record.signature.size(), record.signature.begin());
  return record;
}

std::array<std::uint8_t, RATES_RECORD_SIGNED_BYTES> EncodeSignedPart(const RatesInfo& info, const RateTable& rates,
                                                                     const KeyId& keyId) {
  std::array<std::uint8_t, RATES_RECORD_SIGNED_BYTES> bytes{};
  std::memcpy(bytes.data(), RATES_RECORD_MAGIC, RATES_RECORD_MAGIC_BYTES);
  const RatesInfoBytes encodedInfo = EncodeRatesInfo(info);
  std::copy(encodedInfo.begin(), encodedInfo.end(), bytes.begin() + INFO_OFFSET);
  EncodeRateTable(rates, std::span<std::uint8_t, RATE_TABLE_BYTES>(bytes.data() + RATES_OFFSET, RATE_TABLE_BYTES));
  std::copy(keyId.begin(), keyId.end(), bytes.begin() + KEY_ID_OFFSET);
  return bytes;
}

RatesRecordBytes EncodeRatesRecord(const RatesRecord& record) {
  RatesRecordBytes bytes{};
  const auto head = EncodeSignedPart(record.info, record.rates, record.keyId);
  std::copy(head.begin(), head.end(), bytes.begin());
  std::copy(record.signature.begin(), record.signature.end(), bytes.begin() + SIGNATURE_OFFSET);
  return bytes;
}

const char* DescribeRecordCheck(RecordCheck check) {
  switch (check) {
    case RecordCheck::Valid:
      return "good signature";
    case RecordCheck::Malformed:
      return "not a whole rates record";
    case RecordCheck::OtherKey:
      return "signed with another key";
    case RecordCheck::BadSignature:
      return "the signature does not match the record";
  }
  return "unknown record check";
}

RecordCheck CheckRatesRecord(std::span<const std::uint8_t> bytes, const UpdateKey& key) {
  const auto record = ParseRatesRecord(bytes);
  if (!record) return RecordCheck::Malformed;
  const auto keyId = KeyIdOf(key);
  if (!keyId || *keyId != record->keyId) return RecordCheck::OtherKey;
  const auto digest = Sha256(bytes.first(RATES_RECORD_SIGNED_BYTES));
  if (!digest || !VerifyP256Signature(key, *digest, record->signature)) return RecordCheck::BadSignature;
  return RecordCheck::Valid;
}

std::optional<RatesRecord> VerifiedRatesRecord(std::span<const std::uint8_t> bytes, const UpdateKey& key) {
  if (CheckRatesRecord(bytes, key) != RecordCheck::Valid) return std::nullopt;
  return ParseRatesRecord(bytes);
}
