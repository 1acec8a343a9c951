#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/stat.h>

#include "net/rates_client.h"
#include "rates_xml.h"
#include "service_process.h"
#include "service_wire.h"
#include "test_signing.h"
#include "test_support.h"

namespace {

const std::string FIXTURES = ORVANE_RATES_FIXTURES;

RateTable Fetch(const ServiceProcess& service) {
  CountingSockets sockets;
  RatesClient client(sockets, ConfigFor(service));
  RateTable rates{};
  EXPECT_TRUE(client.FetchRates(rates)) << DescribeClientError(client.LastError());
  EXPECT_EQ(sockets.opens, 1);
  EXPECT_TRUE(sockets.AllClosedOnce());
  return rates;
}

void ExpectRates(const RateTable& actual, const RateTable& expected, const std::string& what) {
  for (int i = 0; i < RATE_COUNT; ++i) EXPECT_EQ(actual[i], expected[i]) << what << " " << CurrencyCodes[i];
}

TEST(ServiceConformance, FetchRatesServesTheNewestDayOfEveryNationalBankFile) {
  // CRLF, re-indented, one-line, a whole year: the bytes differ, the rates must not.
  for (const char* name : {"bnr-2015-11-20.xml", "bnr-2016-10-18.xml", "bnr-2021-05-05.xml", "bnr-2021.xml",
                           "bnr-2022-06-17.xml", "bnr-2024-12-13.xml"}) {
    const std::string path = FIXTURES + "/" + name;
    const std::string xml = ReadText(path);
    ServiceProcess service({"--rates", path});
    ASSERT_TRUE(service.Listening()) << name;
    ExpectRates(Fetch(service), ExpectedNationalBankRates(xml), name);
    EXPECT_TRUE(service.WaitForLine("serving " + NewestNationalBankDate(xml))) << name;
  }
}

TEST(ServiceConformance, CentralBankFilesGiveRonCrossRatesAndZeroForWhatTheyLack) {
  for (const char* name : {"ecb-2017-03-08.xml", "ecb-2022-07-08.xml", "ecb-2025-05-09.xml"}) {
    const std::string path = FIXTURES + "/" + name;
    const RateTable expected = ExpectedCentralBankRates(ReadText(path));
    ServiceProcess service({"--rates", path});
    ASSERT_TRUE(service.Listening()) << name;
    for (int round = 0; round < 3; ++round) ExpectRates(Fetch(service), expected, name);
    const RateTable served = Fetch(service);
    for (int lacking : {2, 8, 12, 17}) EXPECT_EQ(served[lacking], 0.0f) << name << " " << CurrencyCodes[lacking];
    EXPECT_GT(served[0], 4.0f) << name;  // the euro is the RON rate itself
    // Logged once, at load, not at every request.
    EXPECT_EQ(service.CountLines("no rate for XAU, EGP, MDL, XDR; serving 0"), 1u) << name;
  }
}

TEST(ServiceConformance, MultipliersAreDividedOutAndHundredUnitsMultipliedIn) {
  struct Case {
    const char* name;
    std::map<std::string, XmlRate> changes;
    int index;
    float expected;
  } cases[] = {
      {"HUF per 100 as given", {{"HUF", {"1.2345", "100"}}}, 10, 1.2345f},
      {"HUF without multiplier is per forint", {{"HUF", {"0.012345"}}}, 10, static_cast<float>(0.012345 * 100)},
      {"JPY per 1000", {{"JPY", {"30.123", "1000"}}}, 11, static_cast<float>(30.123 * 100 / 1000)},
      {"USD per 10", {{"USD", {"45.312", "10"}}}, 1, static_cast<float>(45.312 / 10)},
      {"USD with multiplier 1", {{"USD", {"4.5312", "1"}}}, 1, 4.5312f},
      {"padded decimal", {{"EUR", {"  4.9750\n"}}}, 0, 4.975f},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.File("nbrfxrates.xml");
    WriteText(path, NationalBankXml("2026-03-02", c.changes));
    ServiceProcess service({"--rates", path});
    ASSERT_TRUE(service.Listening()) << c.name;
    EXPECT_EQ(Fetch(service)[c.index], c.expected) << c.name;
  }
}

TEST(ServiceConformance, WithoutAnOfferClientsSeeTheirOwnVersionAndDoNotDownload) {
  TempDir dir;
  ServiceProcess service({"--rates", FIXTURES + "/bnr-2022-06-17.xml"});
  ASSERT_TRUE(service.Listening());
  CountingSockets sockets;
  RatesClient client(sockets, ConfigFor(service, dir.File("BrennikDll.dll")));
  float version = 0;
  ASSERT_TRUE(client.FetchVersion(version));
  EXPECT_EQ(version, CLIENT_VERSION);
  std::int32_t size = -1;
  ASSERT_TRUE(client.FetchUpdateSize(size));
  EXPECT_EQ(size, 0);
  const int before = sockets.opens;
  EXPECT_FALSE(client.UpdateFetcher());
  EXPECT_EQ(sockets.opens, before + 1);  // the version query only
  EXPECT_FALSE(std::filesystem::exists(dir.File("BrennikDllUpdate.dll")));
}

TEST(ServiceConformance, UpdateFetcherDownloadsTheOfferedLibraryByteForByte) {
  struct Case {
    const char* version;
    std::size_t size;
    PeFileVersion fileVersion;  // the library's own, which must say the offered version
  } cases[] = {
      {"1.2", 5000, {1, 2}},        // ends with the close after a partial chunk
      {"1.3", 8192, {1, 3}},        // ends on a full chunk
      {"2", 4096 * 5 + 1, {2, 0}},  // one byte in the last chunk
      {"1.25", 300 * 1024, {1, 25}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const auto image = SignedLibraryImage(c.size, {.fileVersion = c.fileVersion});
    WriteFileBytes(dir.File("offer.dll"), image);
    ServiceProcess service({"--rates", FIXTURES + "/bnr-2021-05-05.xml", "--offer-version", c.version, "--offer-file",
                            dir.File("offer.dll")});
    ASSERT_TRUE(service.Listening()) << c.size;
    CountingSockets sockets;
    RatesClient client(sockets, ConfigFor(service, dir.File("BrennikDll.dll")));
    EXPECT_TRUE(client.UpdateFetcher()) << c.size << " " << DescribeClientError(client.LastError());
    EXPECT_EQ(ReadFileBytes(dir.File("BrennikDllUpdate.dll")), image) << c.size;
    EXPECT_EQ(sockets.opens, 3);
    EXPECT_TRUE(sockets.AllClosedOnce());
    float version = 0;
    ASSERT_TRUE(client.FetchVersion(version));
    EXPECT_EQ(version, std::strtof(c.version, nullptr));
  }
}

TEST(ServiceConformance, OfferingTheClientsOwnVersionStartsNoDownload) {
  TempDir dir;
  WriteFileBytes(dir.File("offer.dll"), SignedLibraryImage(5000));
  ServiceProcess service(
      {"--rates", FIXTURES + "/bnr-2021-05-05.xml", "--offer-version", "1.1", "--offer-file", dir.File("offer.dll")});
  ASSERT_TRUE(service.Listening());
  const auto sockets = MakePlatformSockets();
  RatesClient client(*sockets, ConfigFor(service, dir.File("BrennikDll.dll")));
  EXPECT_FALSE(client.UpdateFetcher());
  EXPECT_EQ(client.LastError(), ClientError::None);
  EXPECT_FALSE(std::filesystem::exists(dir.File("BrennikDllUpdate.dll")));
}

TEST(ServiceConformance, StartRefusesWhatItCannotServe) {
  TempDir dir;
  WriteText(dir.File("broken.xml"), NationalBankXml("2026-03-02").substr(0, 300));
  WriteText(dir.File("no-gold.xml"), NationalBankXml("2026-03-02", {{"XAU", {""}}}));
  WriteText(dir.File("not-a-library.dll"), std::string(5000, 'M'));
  WriteText(dir.File("huge.xml"), NationalBankXml("2026-03-02") + std::string(17 << 20, ' '));
  // A named pipe with no writer: opening it to read would wait for ever.
  ASSERT_EQ(mkfifo(dir.File("pipe.xml").c_str(), 0600), 0);
  const std::string good = FIXTURES + "/bnr-2021-05-05.xml";
  struct Case {
    std::vector<std::string> arguments;
    int status;
  } cases[] = {
      {{"--rates", dir.File("missing.xml")}, 1},
      {{"--rates", dir.File("broken.xml")}, 1},
      {{"--rates", dir.File("no-gold.xml")}, 1},
      {{"--rates", "/dev/zero"}, 1},
      {{"--rates", dir.File("huge.xml")}, 1},
      {{"--rates", good, "--offer-version", "1.2", "--offer-file", dir.File("not-a-library.dll")}, 1},
      {{"--rates", good, "--offer-version", "1.2", "--offer-file", dir.File("missing.dll")}, 1},
      {{"--rates", good, "--offer-version", "1.2"}, 2},
      {{"--rates", good, "--offer-version", "nan", "--offer-file", dir.File("x.dll")}, 2},
      {{"--rates", good, "--listen", "localhost"}, 2},
      {{"--rates", good, "--request-timeout", "-1"}, 2},
      {{"--frobnicate"}, 2},
      {{}, 2},
      {{"--help"}, 0},
      {{"--check", good}, 0},
      {{"--check", dir.File("broken.xml")}, 1},
      {{"--check", dir.File("no-gold.xml")}, 1},
      {{"--check", dir.File("missing.xml")}, 1},
      {{"--check", "/dev/zero"}, 1},
      {{"--check", dir.File("huge.xml")}, 1},
      {{"--check", dir.Path().string()}, 1},
      {{"--check", dir.File("pipe.xml")}, 1},
      {{"--rates", dir.File("pipe.xml")}, 1},
  };
  for (const Case& c : cases) {
    ServiceProcess service(c.arguments);
    EXPECT_FALSE(service.Listening()) << c.arguments.size();
    EXPECT_EQ(service.WaitForExit(std::chrono::seconds(10)), c.status) << (c.arguments.empty() ? "" : c.arguments[0]);
  }
}

TEST(ServiceConformance, TermAndIntStopCleanlyWithStatusZero) {
  for (int signal : {SIGTERM, SIGINT}) {
    ServiceProcess service({"--rates", FIXTURES + "/bnr-2021-05-05.xml"});
    ASSERT_TRUE(service.Listening());
    Fetch(service);
    service.Signal(signal);
    EXPECT_EQ(service.WaitForExit(std::chrono::seconds(10)), 0);
    EXPECT_EQ(service.CountLines("stopped"), 1u);
  }
}

TEST(ServiceConformance, OneLogLinePerConnectionWithPeerCommandBytesAndOutcome) {
  ServiceProcess service({"--rates", FIXTURES + "/bnr-2021-05-05.xml"});
  ASSERT_TRUE(service.Listening());
  Fetch(service);
  EXPECT_TRUE(service.WaitForLine("command 1 bytes 72 time "));
  EXPECT_TRUE(service.WaitForLine(" ms ok"));
  EXPECT_TRUE(service.WaitForLine("127.0.0.1:"));

  ServiceProcess quiet({"--rates", FIXTURES + "/bnr-2021-05-05.xml", "--quiet"});
  ASSERT_TRUE(quiet.Listening());
  Fetch(quiet);
  quiet.Signal(SIGTERM);
  ASSERT_EQ(quiet.WaitForExit(std::chrono::seconds(10)), 0);
  EXPECT_EQ(quiet.CountLines("command"), 0u);
}

}  // namespace
