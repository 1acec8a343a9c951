// The signed rates record against vectors from the stock openssl command (natively the check
// meets libcrypto, under Wine the system's CNG), and the date and source it carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "net/rates_record.h"
#include "signature_vectors.h"
#include "test_signing.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class RatesRecordVectors : public ::testing::Test {
 protected:
  const UpdateKey key = SignatureVectorKey("key.point");
  const UpdateKey otherKey = SignatureVectorKey("other.point");
  const Bytes good = SignatureVector("record");
};

TEST_F(RatesRecordVectors, RecordSignedByOpenSslVerifiesWithItsDateSourceAndRates) {
  ASSERT_EQ(good.size(), RATES_RECORD_BYTES);
  EXPECT_EQ(CheckRatesRecord(good, key), RecordCheck::Valid);
  EXPECT_EQ(CheckRatesRecord(SignatureVector("record-other-key"), otherKey), RecordCheck::Valid);
  const auto record = VerifiedRatesRecord(good, key);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->info.date, 20261208u);
  EXPECT_EQ(record->info.bank, RatesBank::NationalBankOfRomania);
  for (int i = 0; i < RATE_COUNT; ++i)  // bit for bit, whatever the random bytes make of them
    EXPECT_EQ(std::bit_cast<std::uint32_t>(record->rates[i]), LoadU32(good.data() + 16 + 4 * i)) << i;
}

TEST_F(RatesRecordVectors, EveryFlippedByteIsRefused) {
  for (std::size_t i = 0; i < RATES_RECORD_BYTES; ++i) {
    // The magic, the date (a flip may still give a real day) and the source make a record
    // malformed or change what is signed; the key id names another key.
    const bool stillParses = ParseRatesRecord(Flipped(good, i)).has_value();
    const RecordCheck expected = i >= 88 && i < 96 ? RecordCheck::OtherKey
                                 : stillParses     ? RecordCheck::BadSignature
                                                   : RecordCheck::Malformed;
    EXPECT_EQ(CheckRatesRecord(Flipped(good, i), key), expected) << "byte " << i;
    EXPECT_NE(CheckRatesRecord(Flipped(good, i), key), RecordCheck::Valid) << "byte " << i;
    if (i < 8 || (i >= 12 && i < 16)) {
      EXPECT_FALSE(stillParses) << "byte " << i;
    }
  }
}

TEST_F(RatesRecordVectors, DamagedOrForeignRecordsAreRefused) {
  const Bytes otherKeySigned = SignatureVector("record-other-key");
  // The other key's signature under this key's id: the signature itself must be checked.
  Bytes otherSignatureThisId = good;
  std::copy(otherKeySigned.begin() + 96, otherKeySigned.end(), otherSignatureThisId.begin() + 96);
  const Bytes der = SignatureVector("record.der");
  struct Case {
    const char* name;
    Bytes bytes;
    RecordCheck expected;
  } cases[] = {
      {"cut short by one byte", Head(good, 159), RecordCheck::Malformed},
      {"the signed part alone", Head(good, 96), RecordCheck::Malformed},
      {"nothing", {}, RecordCheck::Malformed},
      {"one byte after it", Joined(good, {0}), RecordCheck::Malformed},
      {"twice", Joined(good, good), RecordCheck::Malformed},
      {"signed with another key", otherKeySigned, RecordCheck::OtherKey},
      {"another key's signature under this key id", otherSignatureThisId, RecordCheck::BadSignature},
      {"a DER signature in place of r and s", Joined(Head(good, 96), der), RecordCheck::Malformed},
      {"a DER signature cut to 64 bytes", Joined(Head(good, 96), Head(der, 64)), RecordCheck::BadSignature},
      {"signature all zero", Joined(Head(good, 96), Bytes(64, 0)), RecordCheck::BadSignature},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckRatesRecord(c.bytes, key), c.expected) << c.name;
    EXPECT_FALSE(VerifiedRatesRecord(c.bytes, key)) << c.name;
  }
}

TEST_F(RatesRecordVectors, RecordSignedHereVerifiesAndItsDerFormVerifiesWithOpenSslsKeyToo) {
  // The platform's own signing (CNG under Wine) gives what the platform's verifier takes.
  RateTable rates{};
  rates[0] = 4.9771f;
  const auto bytes = SignedRatesRecordForTest({20250509, RatesBank::EuropeanCentralBank}, rates);
  EXPECT_EQ(CheckRatesRecord(bytes, TEST_UPDATE_KEY.point), RecordCheck::Valid);
  EXPECT_EQ(CheckRatesRecord(bytes, OTHER_TEST_KEY.point), RecordCheck::OtherKey);
  const auto record = ParseRatesRecord(bytes);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->info, (RatesInfo{20250509, RatesBank::EuropeanCentralBank}));
  EXPECT_EQ(Bytes(bytes.begin() + 12, bytes.begin() + 16), (Bytes{'E', 'C', 'B', 0}));
}

TEST(RatesInfo, OnlyEightBytesOfARealDayAndAKnownSourceAreTaken) {
  auto info = [](std::uint32_t date, Bytes source) {
    Bytes bytes(4);
    StoreU32(bytes.data(), date);
    return Joined(bytes, source);
  };
  const Bytes bnr = {'B', 'N', 'R', 0}, ecb = {'E', 'C', 'B', 0};
  struct Case {
    const char* name;
    Bytes bytes;
    std::optional<RatesInfo> expected;
  } cases[] = {
      {"8 December 2026, BNR", info(20261208, bnr), RatesInfo{20261208, RatesBank::NationalBankOfRomania}},
      {"29 February 2024, ECB", info(20240229, ecb), RatesInfo{20240229, RatesBank::EuropeanCentralBank}},
      {"29 February 2025", info(20250229, bnr), std::nullopt},
      {"month 13", info(20261308, bnr), std::nullopt},
      {"day 0", info(20261200, bnr), std::nullopt},
      {"zero", info(0, bnr), std::nullopt},
      {"year 1899", info(18991231, bnr), std::nullopt},
      {"source unpadded", info(20261208, {'B', 'N', 'R', 'X'}), std::nullopt},
      {"source in lower case", info(20261208, {'b', 'n', 'r', 0}), std::nullopt},
      {"source all NUL", info(20261208, {0, 0, 0, 0}), std::nullopt},
      {"seven bytes", Head(info(20261208, bnr), 7), std::nullopt},
      {"nine bytes", Joined(info(20261208, bnr), {0}), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeRatesInfo(c.bytes), c.expected) << c.name;
    if (c.expected) {
      const RatesInfoBytes again = EncodeRatesInfo(*c.expected);
      EXPECT_EQ(Bytes(again.begin(), again.end()), c.bytes) << c.name;
    }
  }
}

TEST(RatesInfo, TipsGiveTheDateTheBankAndTheAgeOnceMoreThanFourDaysOld) {
  const RatesInfo bnr{20261208, RatesBank::NationalBankOfRomania};
  const RatesInfo ecb{20261231, RatesBank::EuropeanCentralBank};
  struct Case {
    std::optional<RatesInfo> info;
    std::optional<LocalTime> today;
    const char* line;
    const char* tray;
  } cases[] = {
      {bnr, LocalTime{2026, 12, 8, 9}, "Rates of 08/12/2026 from the National Bank of Romania",
       "Orvane: rates of 08/12/2026"},
      {bnr, LocalTime{2026, 12, 12, 23, 59}, "Rates of 08/12/2026 from the National Bank of Romania",
       "Orvane: rates of 08/12/2026"},
      {bnr, LocalTime{2026, 12, 13}, "Rates of 08/12/2026 from the National Bank of Romania (5 days old)",
       "Orvane: rates of 08/12/2026 (5 days old)"},
      {bnr, LocalTime{2027, 1, 2}, "Rates of 08/12/2026 from the National Bank of Romania (25 days old)",
       "Orvane: rates of 08/12/2026 (25 days old)"},
      {bnr, LocalTime{2026, 12, 1}, "Rates of 08/12/2026 from the National Bank of Romania",
       "Orvane: rates of 08/12/2026"},  // a clock behind the bank's
      {bnr, std::nullopt, "Rates of 08/12/2026 from the National Bank of Romania", "Orvane: rates of 08/12/2026"},
      {ecb, LocalTime{2028, 3, 1}, "Rates of 31/12/2026 from the European Central Bank (426 days old)",
       "Orvane: rates of 31/12/2026 (426 days old)"},
      {std::nullopt, LocalTime{2026, 12, 8}, "Date of the rates unknown", nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RatesLineTip(c.info, c.today), c.line);
    if (c.tray) {
      EXPECT_EQ(TrayRatesTip(*c.info, c.today), c.tray);
    }
  }
}

TEST(RatesInfo, StoredBesideTheSnapshotAndIgnoredWhenNotEightGoodBytes) {
  MemoryStore store;
  EXPECT_FALSE(LoadRatesInfo(store));
  ASSERT_TRUE(SaveRatesInfo(store, {20261208, RatesBank::EuropeanCentralBank}));
  EXPECT_EQ(store.values["LastUpdate/RatesInfo"], (Bytes{0x58, 0x29, 0x35, 0x01, 'E', 'C', 'B', 0}));
  EXPECT_EQ(LoadRatesInfo(store), (RatesInfo{20261208, RatesBank::EuropeanCentralBank}));
  store.values["LastUpdate/RatesInfo"].push_back(0);
  EXPECT_FALSE(LoadRatesInfo(store));
}

TEST(RatesInfo, IsoDatesOfTheBanksFiles) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> date;
  } cases[] = {{"2026-12-08", 20261208},     {"2024-02-29", 20240229},
               {"2023-02-29", std::nullopt}, {"2026-12-8", std::nullopt},
               {"2026/12/08", std::nullopt}, {"20261208", std::nullopt},
               {"+026-12-08", std::nullopt}, {"", std::nullopt}};
  for (const Case& c : cases) {
    EXPECT_EQ(ParseIsoDate(c.text), c.date) << c.text;
    if (c.date) {
      EXPECT_EQ(FormatIsoDate(*c.date), c.text);
    }
  }
}

}  // namespace
