#include <gtest/gtest.h>

#include <filesystem>

#include "file_store.h"
#include "rates_snapshot.h"
#include "test_support.h"

namespace {

TEST(FileStore, WritesAndReadsBackUnderCompanyAndApplication) {
  TempDir dir;
  FileStore store(dir.Path());
  const std::vector<std::uint8_t> value = {0, 1, 2, 0xFF};
  ASSERT_TRUE(store.WriteBinary("LastUpdate", "LastUpdate", value));
  const auto path = dir.Path() / "Brennik Software" / "BrennikDll" / "LastUpdate" / "LastUpdate";
  EXPECT_EQ(ReadFileBytes(path.string()), value);
  EXPECT_EQ(store.ReadBinary("LastUpdate", "LastUpdate"), value);

  ASSERT_TRUE(store.WriteBinary("LastUpdate", "LastUpdate", std::vector<std::uint8_t>{9}));
  EXPECT_EQ(store.ReadBinary("LastUpdate", "LastUpdate"), (std::vector<std::uint8_t>{9}));
  // Nothing but the value itself is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1);
}

TEST(FileStore, MissingOrUnsafeNamesReadNothing) {
  TempDir dir;
  FileStore store(dir.Path());
  EXPECT_FALSE(store.ReadBinary("LastUpdate", "LastUpdate"));
  for (const char* name : {"", ".", "..", "a/b", "../x"}) {
    EXPECT_FALSE(store.WriteBinary(name, "e", std::vector<std::uint8_t>{1})) << name;
    EXPECT_FALSE(store.WriteBinary("s", name, std::vector<std::uint8_t>{1})) << name;
    EXPECT_FALSE(store.ReadBinary(name, "e")) << name;
  }
  EXPECT_FALSE(FileStore("").WriteBinary("s", "e", std::vector<std::uint8_t>{1}));
}

TEST(FileStore, UnwritablePlaceFailsQuietlyAndKeepsTheOldValue) {
  TempDir dir;
  FileStore store(dir.Path());
  ASSERT_TRUE(store.WriteBinary("LastUpdate", "LastUpdate", std::vector<std::uint8_t>{1, 2}));
  // A folder where the temporary file would go: the write cannot happen, even for root.
  const auto entry = dir.Path() / "Brennik Software" / "BrennikDll" / "LastUpdate" / "LastUpdate";
  std::filesystem::create_directory(entry.string() + ".tmp");
  EXPECT_FALSE(store.WriteBinary("LastUpdate", "LastUpdate", std::vector<std::uint8_t>{3}));
  EXPECT_EQ(store.ReadBinary("LastUpdate", "LastUpdate"), (std::vector<std::uint8_t>{1, 2}));

  WriteFileBytes((dir.Path() / "file").string(), {});
  FileStore blocked(dir.Path() / "file");  // its root is a file
  EXPECT_FALSE(blocked.WriteBinary("LastUpdate", "LastUpdate", std::vector<std::uint8_t>{1}));
}

TEST(FileStore, SnapshotRoundTripsThroughTheFile) {
  TempDir dir;
  FileStore store(dir.Path());
  FixedClock clock(LocalTime{2024, 12, 13, 10, 15, 0});
  RatesSnapshot saved;
  saved.rates[0] = 4.9743f;
  ASSERT_TRUE(SaveRatesSnapshot(store, clock, saved));
  RatesSnapshot loaded;
  ASSERT_TRUE(LoadRatesSnapshot(store, loaded));
  EXPECT_EQ(loaded.rates, saved.rates);
  EXPECT_EQ(loaded.lastUpdate, saved.lastUpdate);
}

}  // namespace
