#include "signed_rates.h"

RatesBank BankOf(RatesSource source) {
  return source == RatesSource::EuropeanCentralBank ? RatesBank::EuropeanCentralBank : RatesBank::NationalBankOfRomania;
}

std::optional<RatesRecordBytes> SignRatesFile(const RatesFile& file, const SigningKey& key, std::string& error) {
  const auto date = ParseIsoDate(file.date);
  if (!date) {
    error = "the date " + file.date + " is not a day of the calendar";
    return std::nullopt;
  }
  const auto keyId = KeyIdOf(key.PublicKey());
  RatesRecord record;
  record.info = {*date, BankOf(file.source)};
  record.rates = file.rates;
  if (keyId) record.keyId = *keyId;
  const auto head = EncodeSignedPart(record.info, record.rates, record.keyId);
  const auto digest = Sha256(head);
  const auto signature = keyId && digest ? key.Sign(*digest) : std::nullopt;
  if (!signature) {
    error = "signing failed";
    return std::nullopt;
  }
  record.signature = *signature;
  return EncodeRatesRecord(record);
}
