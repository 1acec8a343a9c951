#pragma once

#include <optional>
#include <string>

#include "net/rates_record.h"
#include "rates_file.h"
#include "update_signer.h"

// The rates record that the service sends for CMD_GET_SIGNED_RATES: the day and bank of `file`,
// its rates, signed with the rates key. Nothing when the file's date is not a day of the
// calendar (no record can carry it) or the signing fails; `error` says which.
std::optional<RatesRecordBytes> SignRatesFile(const RatesFile& file, const SigningKey& key, std::string& error);

RatesBank BankOf(RatesSource source);
