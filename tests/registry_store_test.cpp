#include <gtest/gtest.h>

#include <windows.h>

#include "rates/snapshot.h"
#include "registry_store.h"
#include "test_support.h"

namespace {

// The real registry of the private Wine prefix (or of Windows).
constexpr char SECTION_KEY[] = "Software\\Brennik Software\\BrennikDll\\LastUpdate";

void SetRawValue(DWORD type, const std::vector<std::uint8_t>& bytes) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SECTION_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "LastUpdate", 0, type, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
  RegCloseKey(key);
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software"); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software"); }

  RegistryStore store{SETTINGS_COMPANY, SETTINGS_APPLICATION};
};

TEST_F(RegistryStoreTest, SnapshotIsAnEightyEightByteBinaryValueAtTheKnownPlace) {
  FixedClock clock(LocalTime{2007, 1, 1, 9, 5, 41});
  RatesSnapshot saved;
  saved.rates[0] = 3.5f;
  ASSERT_TRUE(SaveRatesSnapshot(store, clock, saved));

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SECTION_KEY, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0;
  std::uint8_t bytes[128] = {};
  DWORD size = sizeof bytes;
  ASSERT_EQ(RegQueryValueExA(key, "LastUpdate", nullptr, &type, bytes, &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(size, 88u);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 4), (std::vector<std::uint8_t>{0x00, 0x00, 0x60, 0x40}));
  EXPECT_EQ(std::vector<std::uint8_t>(bytes + 72, bytes + 88),
            (std::vector<std::uint8_t>{0xD7, 0x07, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x09, 0x00, 0x05, 0x00, 0x29,
                                       0x00, 0x00, 0x00}));

  RatesSnapshot loaded;
  ASSERT_TRUE(LoadRatesSnapshot(store, loaded));
  EXPECT_EQ(loaded.rates, saved.rates);
  EXPECT_EQ(loaded.lastUpdate, saved.lastUpdate);
}

TEST_F(RegistryStoreTest, WrongLengthsAndTypesAreRejected) {
  struct Case {
    DWORD type;
    std::size_t size;
  } cases[] = {{REG_BINARY, 0}, {REG_BINARY, 87}, {REG_BINARY, 89}, {REG_SZ, 88}, {REG_DWORD, 4}, {REG_NONE, 88}};
  for (const auto& c : cases) {
    SetRawValue(c.type, std::vector<std::uint8_t>(c.size, 0x40));
    RatesSnapshot snapshot;
    EXPECT_FALSE(LoadRatesSnapshot(store, snapshot)) << c.type << " " << c.size;
    EXPECT_EQ(snapshot.rates[0], 0.0f);
  }
  SetRawValue(REG_BINARY, std::vector<std::uint8_t>(88, 0));
  RatesSnapshot snapshot;
  EXPECT_TRUE(LoadRatesSnapshot(store, snapshot));
}

TEST_F(RegistryStoreTest, MissingValueReadsNothing) {
  EXPECT_FALSE(store.ReadBinary("LastUpdate", "LastUpdate"));
  ASSERT_TRUE(store.WriteBinary("LastUpdate", "Other", std::vector<std::uint8_t>{1}));
  EXPECT_FALSE(store.ReadBinary("LastUpdate", "LastUpdate"));
  EXPECT_EQ(store.ReadBinary("LastUpdate", "Other"), (std::vector<std::uint8_t>{1}));
}

}  // namespace
