#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "fake_rates_service.h"
#include "pe_builder.h"
#include "rates_client.h"
#include "test_signing.h"
#include "test_support.h"
#include "update_signature.h"

namespace {

const std::vector<std::uint8_t> VERSION_REQUEST = {3, 0, 0, 0, 1, 0, 0, 0};
const std::vector<std::uint8_t> SIZE_REQUEST = {4, 0, 0, 0, 1, 0, 0, 0};
const std::vector<std::uint8_t> FILE_REQUEST = {2, 0, 0, 0, 0, 0, 0, 0};

class UpdateFetcherTest : public ::testing::Test {
 protected:
  UpdateFetcherTest() {
    config.host = "localhost";
    config.port = service.Port();
    config.connectTimeout = Milliseconds(2000);
    config.receiveTimeout = Milliseconds(2000);
    config.libraryPath = dir.File("BrennikDll.dll");
    config.updateKey = TEST_UPDATE_KEY.point;
  }

  void Offer(float version, std::int32_t size, FakeReply file) {
    service.SetReply(CMD_GET_VERSION, {FloatBytes(version)});
    service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(size)});
    service.SetReply(CMD_GET_UPDATE_FILE, std::move(file));
  }

  bool Fetch() {
    RatesClient client(sockets, config);
    return client.UpdateFetcher();
  }

  std::string UpdatePath() const { return dir.File("BrennikDllUpdate.dll"); }
  std::size_t Connections() const { return service.Requests().size(); }

  FakeRatesService service;
  CountingSockets sockets;
  TempDir dir;
  ClientConfig config;
};

TEST_F(UpdateFetcherTest, SameVersionEndsAfterTheFirstConnection) {
  Offer(1.1f, 5000, {SignedLibraryImage(5000)});
  WriteFileBytes(UpdatePath(), {1, 2, 3});
  EXPECT_FALSE(Fetch());
  EXPECT_EQ(service.Requests(), (std::vector<std::vector<std::uint8_t>>{VERSION_REQUEST}));
  EXPECT_EQ(ReadFileBytes(UpdatePath()), (std::vector<std::uint8_t>{1, 2, 3}));  // untouched
}

TEST_F(UpdateFetcherTest, AnyOtherVersionDownloadsOlderAndNaNIncluded) {
  for (float version : {1.0f, 1.2f, -1.1f, std::numeric_limits<float>::quiet_NaN()}) {
    const auto image = SignedLibraryImage(5000);
    Offer(version, 5000, {image});
    const std::size_t before = Connections();
    EXPECT_TRUE(Fetch()) << version;
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), before + 3);
    EXPECT_EQ(requests[before], VERSION_REQUEST);
    EXPECT_EQ(requests[before + 1], SIZE_REQUEST);
    EXPECT_EQ(requests[before + 2], FILE_REQUEST);
    EXPECT_EQ(ReadFileBytes(UpdatePath()), image);
    std::filesystem::remove(UpdatePath());
  }
  EXPECT_TRUE(sockets.AllClosedOnce());
}

TEST_F(UpdateFetcherTest, ShortVersionReplyMakesNoSecondConnection) {
  service.SetReply(CMD_GET_VERSION, {{0xCD, 0xCC, 0x8C}});
  EXPECT_FALSE(Fetch());
  EXPECT_EQ(Connections(), 1u);
  EXPECT_FALSE(std::filesystem::exists(UpdatePath()));
}

TEST_F(UpdateFetcherTest, WholeChunksEndWithoutWaitingForTheClose) {
  const auto image = SignedLibraryImage(8192);
  // The service would keep the connection open for ever: only the size ends the transfer.
  Offer(1.2f, 8192, {image, {}, true});
  config.receiveTimeout = Milliseconds(60000);
  EXPECT_TRUE(Fetch());
  EXPECT_EQ(ReadFileBytes(UpdatePath()), image);
}

TEST_F(UpdateFetcherTest, TransferOutcomes) {
  const auto image = SignedLibraryImage(5000);
  auto surplus = image;
  surplus.resize(5100, 0);
  const std::vector<std::uint8_t> first3000(image.begin(), image.begin() + 3000);
  struct Case {
    const char* name;
    FakeReply file;
    bool ok;
    std::optional<std::vector<std::uint8_t>> left;  // what the update file holds afterwards
  } cases[] = {
      {"5000 bytes then close", {image, {4096, 904}}, true, image},
      {"3000 bytes then close", {first3000}, false, first3000},
      {"5100 bytes then close", {surplus}, false, surplus},
  };
  for (const auto& c : cases) {
    Offer(1.2f, 5000, c.file);
    EXPECT_EQ(Fetch(), c.ok) << c.name;
    EXPECT_EQ(ReadFileBytes(UpdatePath()), c.left) << c.name;
  }
}

TEST_F(UpdateFetcherTest, ImplausibleSizesAreRefusedBeforeAnyTransfer) {
  for (std::int32_t size : {0, -1, -5000, std::numeric_limits<std::int32_t>::min(), MAX_UPDATE_SIZE + 1,
                            std::numeric_limits<std::int32_t>::max()}) {
    Offer(1.2f, size, {SignedLibraryImage(5000)});
    const std::size_t before = Connections();
    EXPECT_FALSE(Fetch()) << size;
    EXPECT_EQ(Connections(), before + 2) << size;
    EXPECT_FALSE(std::filesystem::exists(UpdatePath())) << size;
  }
}

TEST_F(UpdateFetcherTest, OnlyALoadableLibraryWithTheExportIsKept) {
  std::vector<std::uint8_t> garbage(5000);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 7);
  const std::uint16_t otherMachine = RUNNING_MACHINE == MACHINE_I386 ? MACHINE_AMD64 : MACHINE_I386;
  const std::vector<std::uint8_t> files[] = {
      // Signed, so that only the library check can refuse them.
      SignedForTest(garbage),
      SignedLibraryImage(5000, {.claimExtra = 1}),  // truncated: its section reaches past the end
      SignedLibraryImage(5000, {.machine = otherMachine}),
      SignedLibraryImage(5000, {.exportName = "RunOtherDll"}),
      SignedLibraryImage(5000, {.dll = false}),
  };
  for (const auto& file : files) {
    Offer(1.2f, static_cast<std::int32_t>(file.size()), {file});
    EXPECT_FALSE(Fetch());
    EXPECT_FALSE(std::filesystem::exists(UpdatePath()));
  }
}

std::vector<std::uint8_t> Doubled(std::vector<std::uint8_t> file) {
  const std::vector<std::uint8_t> block(file.end() - SIGNATURE_BLOCK_BYTES, file.end());
  file.insert(file.end(), block.begin(), block.end());
  return file;
}

TEST_F(UpdateFetcherTest, OnlyALibrarySignedWithTheUpdateKeyIsKept) {
  const auto good = SignedLibraryImage(5000);
  auto changed = good;
  changed[2500] ^= 0x20;
  const auto unsignedLibrary = BuildLibraryImage({.size = 5000});
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    std::optional<UpdateKey> key;  // the build's key
    bool kept;
  } cases[] = {
      {"signed with the key", good, TEST_UPDATE_KEY.point, true},
      {"unsigned", unsignedLibrary, TEST_UPDATE_KEY.point, false},
      {"signed with another key", SignedForTest(unsignedLibrary, OTHER_TEST_KEY), TEST_UPDATE_KEY.point, false},
      {"signed, then one byte changed", changed, TEST_UPDATE_KEY.point, false},
      {"signed, then the block doubled", Doubled(good), TEST_UPDATE_KEY.point, false},
      {"signed, but the build has no key", good, std::nullopt, false},
  };
  for (const auto& c : cases) {
    config.updateKey = c.key;
    Offer(1.2f, static_cast<std::int32_t>(c.file.size()), {c.file});
    EXPECT_EQ(Fetch(), c.kept) << c.name;
    EXPECT_EQ(ReadFileBytes(UpdatePath()), c.kept ? std::optional(c.file) : std::nullopt) << c.name;
    std::filesystem::remove(UpdatePath());
  }
}

TEST_F(UpdateFetcherTest, UnwritableUpdateFileFailsWithoutReceiving) {
  std::filesystem::create_directory(UpdatePath());  // fopen cannot open a folder, not even for root
  Offer(1.2f, 5000, {SignedLibraryImage(5000)});
  EXPECT_FALSE(Fetch());
  EXPECT_TRUE(std::filesystem::is_directory(UpdatePath()));
  EXPECT_TRUE(sockets.AllClosedOnce());
}

TEST(UpdateFilePath, InsertsUpdateBeforeTheExtensionOfTheFileName) {
  struct Case {
    const char* library;
    const char* update;
  } cases[] = {
      {"C:\\Apps\\BrennikDll.dll", "C:\\Apps\\BrennikDllUpdate.dll"},
      {"C:\\BrennikDll.dll", "C:\\BrennikDllUpdate.dll"},
      {"C:\\my.apps\\BrennikDll.dll", "C:\\my.apps\\BrennikDllUpdate.dll"},
      {"C:\\my.apps\\BrennikDll", "C:\\my.apps\\BrennikDllUpdate"},
      {"/opt/x.y/BrennikDll", "/opt/x.y/BrennikDllUpdate"},
      {"BrennikDll.tar.gz", "BrennikDll.tarUpdate.gz"},
      {"BrennikDll", "BrennikDllUpdate"},
      {"", "Update"},
  };
  for (const auto& c : cases) EXPECT_EQ(UpdateFilePath(c.library), c.update) << c.library;
}

}  // namespace
