// The service offers only signed libraries, and with --offer-key only ones whose signature is
// good for that key: at start and at every reload.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "net/rates_client.h"
#include "service_process.h"
#include "test_signing.h"
#include "test_support.h"
#include "update_signer.h"

namespace {

const std::string RATES = std::string(ORVANE_RATES_FIXTURES) + "/bnr-2021-05-05.xml";

// Two key pairs in PEM files and libraries signed with them through the signing library.
class OfferSignature : public ::testing::Test {
 protected:
  OfferSignature() {
    std::string error;
    EXPECT_TRUE(GenerateKeyPair(dir.File("key.pem"), dir.File("key.pub.pem"), error)) << error;
    EXPECT_TRUE(GenerateKeyPair(dir.File("other.pem"), dir.File("other.pub.pem"), error)) << error;
    key = SigningKey::ReadPem(dir.File("key.pem"), error);
    other = SigningKey::ReadPem(dir.File("other.pem"), error);
  }

  std::vector<std::uint8_t> Signed(const SigningKey& by) {
    std::string error;
    return SignLibrary(BuildLibraryImage({.size = 6000}), by, error).value_or(std::vector<std::uint8_t>{});
  }
  std::string KeyIdText(const SigningKey& of) { return FormatKeyId(*KeyIdOf(of.PublicKey())); }

  std::vector<std::string> Offering(const std::string& file, const std::string& keyFile = {}) {
    std::vector<std::string> arguments{"--rates", RATES, "--offer-version", "1.2", "--offer-file", dir.File(file)};
    if (!keyFile.empty()) arguments.insert(arguments.end(), {"--offer-key", dir.File(keyFile)});
    return arguments;
  }

  TempDir dir;
  std::optional<SigningKey> key;
  std::optional<SigningKey> other;
};

TEST_F(OfferSignature, StartOffersOnlyWhatTheClientsWouldKeep) {
  ASSERT_TRUE(key && other);
  WriteFileBytes(dir.File("unsigned.dll"), BuildLibraryImage({.size = 6000}));
  WriteFileBytes(dir.File("signed.dll"), Signed(*key));
  WriteFileBytes(dir.File("other.dll"), Signed(*other));
  auto changed = Signed(*key);
  changed[3000] ^= 0x01;
  WriteFileBytes(dir.File("changed.dll"), changed);
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::optional<std::string> offerLine;  // the log line when it starts, or nothing: it must not
  } cases[] = {
      {"unsigned", Offering("unsigned.dll"), std::nullopt},
      {"signed, no key to check", Offering("signed.dll"),
       "offer: version 1.2, 6080 bytes, key id " + KeyIdText(*key) + " from "},
      {"signed, checked", Offering("signed.dll", "key.pub.pem"),
       "offer: version 1.2, 6080 bytes, key id " + KeyIdText(*key) + " (signature verified) from "},
      {"signed with another key", Offering("other.dll", "key.pub.pem"), std::nullopt},
      {"one byte changed after signing", Offering("changed.dll", "key.pub.pem"), std::nullopt},
      {"a private key as the key", Offering("signed.dll", "key.pem"), std::nullopt},
      {"no key file", Offering("signed.dll", "missing.pem"), std::nullopt},
  };
  for (const Case& c : cases) {
    ServiceProcess service(c.arguments);
    EXPECT_EQ(service.Listening(), c.offerLine.has_value()) << c.name;
    if (c.offerLine)
      EXPECT_EQ(service.CountLines(*c.offerLine), 1u) << c.name;
    else
      EXPECT_EQ(service.WaitForExit(std::chrono::seconds(10)), 1) << c.name;
  }
}

TEST_F(OfferSignature, KeyWithoutAnOfferIsAUsageError) {
  ServiceProcess service({"--rates", RATES, "--offer-key", dir.File("key.pub.pem")});
  EXPECT_FALSE(service.Listening());
  EXPECT_EQ(service.WaitForExit(std::chrono::seconds(10)), 2);
}

TEST_F(OfferSignature, ReloadKeepsOfferingTheGoodLibraryWhenTheNewOneFailsTheCheck) {
  ASSERT_TRUE(key && other);
  const auto good = Signed(*key);
  WriteFileBytes(dir.File("offer.dll"), good);
  ServiceProcess service(Offering("offer.dll", "key.pub.pem"));
  ASSERT_TRUE(service.Listening());
  WriteFileBytes(dir.File("offer.dll"), Signed(*other));
  const std::size_t seen = service.Lines().size();
  service.Signal(SIGHUP);
  ASSERT_TRUE(service.WaitForLine("still offering the previous file", seen));
  EXPECT_EQ(service.CountLines("signed with another key"), 1u);

  // Clients still get the good one, byte for byte.
  ClientConfig config;
  config.host = "127.0.0.1";
  config.port = service.Port();
  config.libraryPath = dir.File("BrennikDll.dll");
  config.updateKey = key->PublicKey();
  CountingSockets sockets;
  RatesClient client(sockets, config);
  EXPECT_TRUE(client.UpdateFetcher());
  EXPECT_EQ(ReadFileBytes(dir.File("BrennikDllUpdate.dll")), good);
}

}  // namespace
