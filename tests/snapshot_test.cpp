#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "base/byte_order.h"
#include "rates/display_format.h"
#include "rates/snapshot.h"
#include "test_support.h"

namespace {

std::vector<std::uint8_t> StoredValue(MemoryStore& store) { return store.values.at("LastUpdate/LastUpdate"); }

RateTable SampleRates() {
  RateTable rates{};
  for (int i = 0; i < RATE_COUNT; ++i) rates[i] = 0.25f * static_cast<float>(i + 1);
  return rates;
}

TEST(Snapshot, SaveStampsLocalTimeAsSystemTimeBytes) {
  MemoryStore store;
  FixedClock clock(LocalTime{2007, 1, 1, 9, 5, 41});
  RatesSnapshot snapshot;
  snapshot.rates = SampleRates();
  ASSERT_TRUE(SaveRatesSnapshot(store, clock, snapshot));

  const auto bytes = StoredValue(store);
  ASSERT_EQ(bytes.size(), 88u);
  const std::vector<std::uint8_t> time(bytes.begin() + 72, bytes.end());
  EXPECT_EQ(time, (std::vector<std::uint8_t>{0xD7, 0x07, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x09, 0x00, 0x05, 0x00,
                                             0x29, 0x00, 0x00, 0x00}));
  EXPECT_EQ(LoadFloat(bytes.data()), 0.25f);
  EXPECT_EQ(LoadFloat(bytes.data() + 68), 4.5f);
  EXPECT_EQ(snapshot.lastUpdate.wDayOfWeek, 1);  // the window shows what was stored
  EXPECT_EQ(FormatLastUpdated(snapshot.lastUpdate), "Last Updated: 01/01/2007 09:05");
}

TEST(Snapshot, ClockWithoutValidTimeStoresZeroTimeAndTheRates) {
  const std::optional<LocalTime> clocks[] = {std::nullopt,
                                             LocalTime{2009, 2, 29, 0, 0, 0},
                                             LocalTime{99, 1, 1, 0, 0, 0},
                                             LocalTime{2009, 13, 1, 0, 0, 0},
                                             LocalTime{2009, 1, 1, 24, 0, 0},
                                             LocalTime{2009, 1, 1, 0, 0, 60}};
  for (const auto& now : clocks) {
    MemoryStore store;
    FixedClock clock(now);
    RatesSnapshot snapshot;
    snapshot.rates = SampleRates();
    snapshot.lastUpdate.wYear = 1999;
    ASSERT_TRUE(SaveRatesSnapshot(store, clock, snapshot));
    EXPECT_EQ(snapshot.lastUpdate, SystemTime{});
    const auto bytes = StoredValue(store);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 72, bytes.end()), std::vector<std::uint8_t>(16, 0));
    EXPECT_EQ(LoadFloat(bytes.data() + 4), 0.5f);
    EXPECT_EQ(FormatLastUpdated(snapshot.lastUpdate), "Last Updated: 00/00/0000 00:00");
  }
}

TEST(Snapshot, DayOfWeekIsRecomputed) {
  struct Case {
    LocalTime time;
    int dayOfWeek;
  } cases[] = {{{2007, 1, 1, 9, 5, 41}, 1},  {{2000, 2, 29, 12, 0, 0}, 2},    {{1970, 1, 1, 0, 0, 0}, 4},
               {{1899, 12, 30, 0, 0, 0}, 6}, {{9999, 12, 31, 23, 59, 59}, 5}, {{100, 1, 1, 0, 0, 0}, 5}};
  for (const auto& c : cases) {
    const auto stamp = ToSystemTime(c.time);
    ASSERT_TRUE(stamp) << c.time.year;
    EXPECT_EQ(stamp->wDayOfWeek, c.dayOfWeek) << c.time.year;
    EXPECT_EQ(stamp->wMilliseconds, 0);
  }
}

TEST(Snapshot, RoundTripKeepsEveryBitNaNAndNegativeZeroIncluded) {
  MemoryStore store;
  FixedClock clock(LocalTime{2021, 5, 5, 13, 0, 7});
  RatesSnapshot saved;
  saved.rates = SampleRates();
  saved.rates[0] = -0.0f;
  saved.rates[1] = std::bit_cast<float>(0x7FC01234u);  // a NaN with a payload
  saved.rates[2] = std::bit_cast<float>(0xFF800001u);  // a signalling NaN
  saved.rates[3] = std::numeric_limits<float>::infinity();
  saved.rates[4] = std::numeric_limits<float>::denorm_min();
  ASSERT_TRUE(SaveRatesSnapshot(store, clock, saved));

  RatesSnapshot loaded;
  ASSERT_TRUE(LoadRatesSnapshot(store, loaded));
  for (int i = 0; i < RATE_COUNT; ++i)
    EXPECT_EQ(std::bit_cast<std::uint32_t>(loaded.rates[i]), std::bit_cast<std::uint32_t>(saved.rates[i])) << i;
  EXPECT_EQ(loaded.lastUpdate, saved.lastUpdate);
}

TEST(Snapshot, OnlyExactlyEightyEightBytesAreTaken) {
  for (std::size_t size : {0u, 1u, 72u, 87u, 89u, 176u}) {
    MemoryStore store;
    store.values["LastUpdate/LastUpdate"] = std::vector<std::uint8_t>(size, 0x41);
    RatesSnapshot snapshot;
    snapshot.rates[0] = 7.0f;
    EXPECT_FALSE(LoadRatesSnapshot(store, snapshot)) << size;
    EXPECT_EQ(snapshot.rates[0], 7.0f);
    EXPECT_EQ(snapshot.rates[1], 0.0f);
  }
  MemoryStore empty;
  RatesSnapshot snapshot;
  EXPECT_FALSE(LoadRatesSnapshot(empty, snapshot));
}

TEST(Snapshot, AnyEightyEightByteValueLoadsUnvalidated) {
  MemoryStore store;
  std::vector<std::uint8_t> value(88, 0);
  StoreFloat(value.data(), -3.0f);
  StoreU16(value.data() + 72, 65535);  // no field is checked
  store.values["LastUpdate/LastUpdate"] = value;
  RatesSnapshot snapshot;
  ASSERT_TRUE(LoadRatesSnapshot(store, snapshot));
  EXPECT_EQ(snapshot.rates[0], -3.0f);
  EXPECT_EQ(FormatLastUpdated(snapshot.lastUpdate), "Last Updated: 00/00/65535 00:00");
}

TEST(Snapshot, FailedWriteStillStampsTheWindowTime) {
  MemoryStore store;
  store.failWrites = true;
  FixedClock clock(LocalTime{2009, 3, 14, 8, 30, 0});
  RatesSnapshot snapshot;
  EXPECT_FALSE(SaveRatesSnapshot(store, clock, snapshot));
  EXPECT_EQ(FormatLastUpdated(snapshot.lastUpdate), "Last Updated: 14/03/2009 08:30");
}

TEST(DisplayFormat, RatesShowWithFiveDecimalsOfTheFloat) {
  struct Case {
    float rate;
    const char* text;
  } cases[] = {{0.0f, "0.00000"},
               {-0.0f, "-0.00000"},
               {-1.5f, "-1.50000"},
               {4.2f, "4.20000"},
               {1234.56789f, "1234.56787"},
               {3.5f, "3.50000"},
               {0.000004f, "0.00000"},
               {0.000006f, "0.00001"},
               {3.0e38f, "300000000549775575777803994281145270272.00000"},
               {std::numeric_limits<float>::infinity(), "inf"},
               {std::numeric_limits<float>::quiet_NaN(), "nan"}};
  for (const auto& c : cases) EXPECT_EQ(FormatRate(c.rate), c.text) << c.text;
}

TEST(DisplayFormat, LastUpdatedLine) {
  EXPECT_EQ(FormatLastUpdated(SystemTime{2009, 3, 6, 14, 8, 30, 59, 0}), "Last Updated: 14/03/2009 08:30");
  EXPECT_EQ(FormatLastUpdated(SystemTime{}), "Last Updated: 00/00/0000 00:00");
  EXPECT_EQ(FormatLastUpdated(SystemTime{999, 12, 0, 31, 23, 59, 0, 0}), "Last Updated: 31/12/0999 23:59");
}

}  // namespace
