#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "fake_rates_service.h"
#include "net/rates_client.h"
#include "pe_builder.h"
#include "test_signing.h"
#include "test_support.h"
#include "update/update_check.h"
#include "update/update_signature.h"

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
  std::size_t Downloads() const {
    const auto requests = service.Requests();
    return static_cast<std::size_t>(std::count(requests.begin(), requests.end(), FILE_REQUEST));
  }
  // Nothing of a download is left beside the library but a complete, verified update.
  bool OnlyTheLibraryFolderIsLeft() const {
    return !std::filesystem::exists(UpdatePath()) && !std::filesystem::exists(TemporaryUpdatePath(config.libraryPath));
  }

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

TEST_F(UpdateFetcherTest, OnlyAFiniteHigherVersionIsDownloaded) {
  struct Case {
    float offered;
    bool taken;
  } cases[] = {
      {1.0f, false},
      {1.1f, false},
      {std::nextafter(1.1f, 0.0f), false},
      {-1.2f, false},
      {std::numeric_limits<float>::quiet_NaN(), false},
      {std::numeric_limits<float>::infinity(), false},
      {-std::numeric_limits<float>::infinity(), false},
      {1.2f, true},
  };
  for (const auto& c : cases) {
    const auto image = SignedLibraryImage(5000);  // a good library of 1.2
    Offer(c.offered, 5000, {image});
    const std::size_t before = Connections();
    EXPECT_EQ(Fetch(), c.taken) << c.offered;
    const auto requests = service.Requests();
    if (c.taken) {
      ASSERT_EQ(requests.size(), before + 3);
      EXPECT_EQ(requests[before], VERSION_REQUEST);
      EXPECT_EQ(requests[before + 1], SIZE_REQUEST);
      EXPECT_EQ(requests[before + 2], FILE_REQUEST);
      EXPECT_EQ(ReadFileBytes(UpdatePath()), image);
      std::filesystem::remove(UpdatePath());
    } else {
      EXPECT_EQ(requests.size(), before + 1) << c.offered << ": the version query only";
    }
    EXPECT_TRUE(OnlyTheLibraryFolderIsLeft()) << c.offered;
  }
  EXPECT_TRUE(sockets.AllClosedOnce());
}

TEST_F(UpdateFetcherTest, OfferRefusedForWhatItIsIsNotDownloadedAgainByTheSameClient) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    std::int32_t announced;
    std::size_t downloads;  // by three update checks of one client
  } cases[] = {
      {"1.2 serving the signed 1.1 library", SignedLibraryImage(5000, {.fileVersion = PeFileVersion{1, 1}}), 5000, 1},
      {"1.2 serving a library without a version", SignedLibraryImage(5000, {.fileVersion = std::nullopt}), 5000, 1},
      {"unsigned", BuildLibraryImage({.size = 5000}), 5000, 1},
      {"surplus bytes", SignedLibraryImage(5100), 5000, 1},
      {"announced size 0", SignedLibraryImage(5000), 0, 0},
  };
  for (const auto& c : cases) {
    Offer(1.2f, c.announced, {c.file});
    const std::size_t before = Downloads();
    RatesClient client(sockets, config);
    for (int check = 0; check < 3; ++check) EXPECT_FALSE(client.UpdateFetcher()) << c.name;
    EXPECT_EQ(Downloads() - before, c.downloads) << c.name;
    EXPECT_TRUE(OnlyTheLibraryFolderIsLeft()) << c.name;
    // A later offer of another version is looked at afresh.
    const auto next = SignedLibraryImage(5000, {.fileVersion = PeFileVersion{1, 3}});
    Offer(1.3f, 5000, {next});
    EXPECT_TRUE(client.UpdateFetcher()) << c.name;
    EXPECT_EQ(ReadFileBytes(UpdatePath()), next) << c.name;
    std::filesystem::remove(UpdatePath());
  }
}

TEST_F(UpdateFetcherTest, BrokenConnectionIsTriedAgain) {
  const auto image = SignedLibraryImage(5000);
  Offer(1.2f, 5000, {std::vector<std::uint8_t>(image.begin(), image.begin() + 2500)});
  RatesClient client(sockets, config);
  EXPECT_FALSE(client.UpdateFetcher());
  service.SetReply(CMD_GET_UPDATE_FILE, {image});
  EXPECT_TRUE(client.UpdateFetcher());
  EXPECT_EQ(Downloads(), 2u);
  EXPECT_EQ(ReadFileBytes(UpdatePath()), image);
}

TEST_F(UpdateFetcherTest, VersionsTheLauncherRefusedAreNeverDownloaded) {
  struct Case {
    std::string refused;
    bool taken;
  } cases[] = {
      {"", true}, {"1.2", false}, {"1.3;1.2", false}, {"*", false}, {"1.3;x;;", true}, {"1.20", false},
  };
  for (const auto& c : cases) {
    config.refusedUpdates = [&c] { return c.refused; };
    Offer(1.2f, 5000, {SignedLibraryImage(5000)});
    const std::size_t before = Downloads();
    EXPECT_EQ(Fetch(), c.taken) << c.refused;
    EXPECT_EQ(Downloads() - before, c.taken ? 1u : 0u) << c.refused;
    std::filesystem::remove(UpdatePath());
  }
}

TEST_F(UpdateFetcherTest, BuildWithoutAKeyNeverAsks) {
  config.updateKey = std::nullopt;
  Offer(1.2f, 5000, {SignedLibraryImage(5000)});
  EXPECT_FALSE(Fetch());
  EXPECT_EQ(Connections(), 0u);
  EXPECT_TRUE(OnlyTheLibraryFolderIsLeft());
}

TEST_F(UpdateFetcherTest, SlowDripEndsAtTheFilesDeadline) {
  const auto image = SignedLibraryImage(5000);
  FakeReply drip(image, std::vector<std::size_t>(image.size(), 1));
  drip.pieceDelay = std::chrono::milliseconds(400);
  Offer(1.2f, 5000, drip);
  config.receiveTimeout = Milliseconds(60000);  // each byte comes well within it
  config.fileDeadline = Milliseconds(1500);
  const auto started = std::chrono::steady_clock::now();
  RatesClient client(sockets, config);
  EXPECT_FALSE(client.UpdateFetcher());
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  std::printf("drip ended after %lld ms (file deadline 1500 ms)\n", static_cast<long long>(took.count()));
  EXPECT_EQ(client.LastError(), ClientError::TimedOut);
  EXPECT_TRUE(OnlyTheLibraryFolderIsLeft());
  EXPECT_TRUE(sockets.AllClosedOnce());
}

TEST_F(UpdateFetcherTest, FolderNamedOutsideTheAnsiCodePageTakesTheUpdate) {
  const std::filesystem::path folder = dir.Path() / std::filesystem::path(u8"\u0218tefan Orvane");
  std::filesystem::create_directory(folder);
  config.libraryPath = folder / "BrennikDll.dll";
  const auto image = SignedLibraryImage(5000);
  Offer(1.2f, 5000, {image});
  EXPECT_TRUE(Fetch());
  EXPECT_EQ(ReadWholeFile(folder / "BrennikDllUpdate.dll"), image);
  EXPECT_FALSE(std::filesystem::exists(TemporaryUpdatePath(config.libraryPath)));
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
  const auto first = [&image](std::size_t count) {
    return std::vector<std::uint8_t>(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(count));
  };
  struct Case {
    const char* name;
    FakeReply file;
    bool ok;
  } cases[] = {
      {"5000 bytes then close", {image, {4096, 904}}, true}, {"cut at the start", {first(0)}, false},
      {"cut in the middle", {first(3000)}, false},           {"cut one byte before the end", {first(4999)}, false},
      {"5100 bytes then close", {surplus}, false},
  };
  for (const auto& c : cases) {
    Offer(1.2f, 5000, c.file);
    EXPECT_EQ(Fetch(), c.ok) << c.name;
    // A cut transfer leaves nothing: no update for the launcher to take, no temporary file.
    EXPECT_EQ(ReadFileBytes(UpdatePath()), c.ok ? std::optional(image) : std::nullopt) << c.name;
    EXPECT_FALSE(std::filesystem::exists(TemporaryUpdatePath(config.libraryPath))) << c.name;
    std::filesystem::remove(UpdatePath());
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
      {"signed, of another version", SignedLibraryImage(5000, {.fileVersion = PeFileVersion{1, 3}}),
       TEST_UPDATE_KEY.point, false},
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
  // fopen cannot open a folder, not even for root; one that holds a file is never removed.
  const std::filesystem::path folder = TemporaryUpdatePath(config.libraryPath);
  std::filesystem::create_directory(folder);
  WriteFileBytes((folder / "kept").string(), {1});
  Offer(1.2f, 5000, {SignedLibraryImage(5000)});
  EXPECT_FALSE(Fetch());
  EXPECT_FALSE(std::filesystem::exists(UpdatePath()));
  EXPECT_TRUE(sockets.AllClosedOnce());
}

TEST_F(UpdateFetcherTest, UpdateThatCannotTakeItsNameIsNotReported) {
  std::filesystem::create_directory(UpdatePath());  // no rename replaces a folder
  Offer(1.2f, 5000, {SignedLibraryImage(5000)});
  EXPECT_FALSE(Fetch());
  EXPECT_TRUE(std::filesystem::is_directory(UpdatePath()));
  EXPECT_FALSE(std::filesystem::exists(TemporaryUpdatePath(config.libraryPath)));
}

TEST(UpdateCheck, SignatureFirstThenTheLibraryThenItsOwnVersion) {
  std::vector<std::uint8_t> garbage(5000);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 7);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    UpdateCheck expected;
  } cases[] = {
      {"signed library of 1.2", SignedLibraryImage(5000), UpdateCheck::Valid},
      {"unsigned garbage: the PE parser never sees it", garbage, UpdateCheck::BadSignature},
      {"unsigned library", BuildLibraryImage(), UpdateCheck::BadSignature},
      {"signed garbage", SignedForTest(garbage), UpdateCheck::NotALibrary},
      {"signed library of 1.1", SignedLibraryImage(5000, {.fileVersion = PeFileVersion{1, 1}}),
       UpdateCheck::OtherVersion},
      {"signed library of 1.20", SignedLibraryImage(5000, {.fileVersion = PeFileVersion{1, 20}}), UpdateCheck::Valid},
      {"signed library of 12.0", SignedLibraryImage(5000, {.fileVersion = PeFileVersion{12, 0}}),
       UpdateCheck::OtherVersion},
      {"signed library without a version", SignedLibraryImage(5000, {.fileVersion = std::nullopt}),
       UpdateCheck::OtherVersion},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckUpdateFile(c.file, TEST_UPDATE_KEY.point, 1.2f), c.expected) << c.name;
}

TEST(UpdateVersion, OrderListsAndTexts) {
  EXPECT_TRUE(IsNewerVersion(1.2f, 1.1f));
  EXPECT_FALSE(IsNewerVersion(1.1f, 1.1f));
  EXPECT_FALSE(IsNewerVersion(std::numeric_limits<float>::quiet_NaN(), 1.1f));
  EXPECT_FALSE(IsNewerVersion(std::numeric_limits<float>::infinity(), 1.1f));
  struct Listed {
    const char* list;
    float version;
    bool listed;
  } lists[] = {
      {"", 1.2f, false},     {"*", 1.2f, true},     {"1.2", 1.2f, true},   {"1.3;1.2", 1.2f, true},
      {"1.2;", 1.2f, true},  {";;1.2", 1.2f, true}, {"1.25", 1.2f, false}, {"1.2x", 1.2f, false},
      {" 1.2", 1.2f, false}, {"nan", 1.2f, false},  {"**", 1.2f, false},   {"1.3;*", 1.2f, true},
  };
  for (const auto& l : lists) EXPECT_EQ(IsListedVersion(l.list, l.version), l.listed) << l.list;
  EXPECT_EQ(FormatVersion(1.2f), "1.2");
  EXPECT_EQ(FormatVersion(2.0f), "2");
  EXPECT_EQ(FormatVersion(1.25f), "1.25");
  for (float version : {1.1f, 1.2f, 1.25f, 2.0f, 10.5f})
    EXPECT_TRUE(IsListedVersion(FormatVersion(version), version)) << version;
  EXPECT_EQ(ClientVersionOf({1, 2}), 1.2f);
  EXPECT_EQ(ClientVersionOf({2, 0}), 2.0f);
  EXPECT_EQ(ClientVersionOf({1, 25}), 1.25f);
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
  for (const auto& c : cases) EXPECT_EQ(UpdateFilePath(c.library).string(), c.update) << c.library;
}

}  // namespace
