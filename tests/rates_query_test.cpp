#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "fake_rates_service.h"
#include "net/protocol.h"
#include "test_signing.h"
#include "test_sockets.h"
#include "test_support.h"

namespace {

using QueryRun = CommandRun;

QueryRun Query(const std::string& arguments) {
  return RunCommand(std::string("\"") + ORVANE_QUERY_PROGRAM + "\" " + arguments);
}

// 100HUF 1.5678, every other currency its index + 0.25.
std::vector<std::uint8_t> RatesReply() {
  RateTable rates = RisingRates(0.25f);
  rates[10] = 1.5678f;
  return RatesBytes(rates);
}

TEST(RatesQuery, PrintsVersionSizeAndTheEighteenRates) {
  FakeRatesService service;
  service.SetReply(CMD_GET_VERSION, {FloatBytes(1.1f)});
  service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(123456)});
  service.SetReply(CMD_GET_RATES, {RatesReply()});
  const QueryRun run = Query("--host 127.0.0.1 --port " + std::to_string(service.Port()));
  EXPECT_EQ(run.status, 0) << run.output;
  const std::string head = "version 1.1\nupdate size 123456\nEUR    0.25000\nUSD    1.25000\n";
  EXPECT_EQ(run.output.substr(0, head.size()), head);
  EXPECT_NE(run.output.find("\n100HUF 1.56780\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\nXDR    17.25000\n"), std::string::npos) << run.output;
  EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 20);
}

TEST(RatesQuery, FailuresExitNonZeroWithOneLineReason) {
  FakeRatesService service;
  service.SetReply(CMD_GET_VERSION, {FloatBytes(1.1f)});
  service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(1)});
  service.SetReply(CMD_GET_RATES, {std::vector<std::uint8_t>(71, 0)});
  struct Case {
    std::string arguments;
    std::string reason;
  } cases[] = {
      {"--host 127.0.0.1 --port " + std::to_string(UnusedPort()), "version: cannot connect"},
      {"--host 127.0.0.1 --port " + std::to_string(service.Port()), "rates: short reply"},
      {"--host no-such-host.invalid", "version: host name does not resolve"},
      {"--port 0", "the port must be a number"},
      {"--colour red", "unknown option --colour"},
  };
  for (const auto& c : cases) {
    const QueryRun run = Query(c.arguments);
    EXPECT_NE(run.status, 0) << c.arguments;
    EXPECT_NE(run.output.find("orvane-rates-query: " + c.reason), std::string::npos) << run.output;
  }
}

#ifndef _WIN32
// The public half of a test key in PEM, made by the stock openssl command from its point.
std::string PublicPem(const TestKey& key, const TempDir& dir, const std::string& name) {
  std::vector<std::uint8_t> der = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
                                   0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
  const std::size_t header = der.size();
  der.resize(header + key.point.size());
  std::copy(key.point.begin(), key.point.end(), der.begin() + static_cast<std::ptrdiff_t>(header));
  WriteFileBytes(dir.File(name + ".der"), der);
  const CommandRun run =
      RunCommand("openssl pkey -pubin -inform DER -in " + dir.File(name + ".der") + " -out " + dir.File(name + ".pem"));
  EXPECT_EQ(run.status, 0) << run.output;
  return dir.File(name + ".pem");
}

TEST(RatesQuery, WithTheRatesKeyPrintsTheSignedDateSourceAndWhetherTheRecordVerifies) {
  TempDir dir;
  const std::string key = PublicPem(TEST_UPDATE_KEY, dir, "rates");
  RateTable rates{};
  rates[0] = 4.9771f;
  const auto good = SignedRatesRecordForTest({20261208, RatesBank::NationalBankOfRomania}, rates);
  auto tampered = good;
  tampered[16] ^= 0x01;
  const auto id = FormatKeyId(*KeyIdOf(TEST_UPDATE_KEY.point));
  const auto otherId = FormatKeyId(*KeyIdOf(OTHER_TEST_KEY.point));
  struct Case {
    const char* name;
    std::vector<std::uint8_t> record;
    int status;
    std::string output;
  } cases[] = {
      {"good",
       {good.begin(), good.end()},
       0,
       "rates of 2026-12-08 from the National Bank of Romania (BNR)\nsignature good (key id " + id +
           ")\nEUR    4.97710\n"},
      {"tampered",
       {tampered.begin(), tampered.end()},
       1,
       "rates of 2026-12-08 from the National Bank of Romania (BNR)\nsignature refused: the signature does not match "
       "the record (key id " +
           id + ")\n"},
      {"other key",
       [&] {
         const auto bytes = SignedRatesRecordForTest({20250509, RatesBank::EuropeanCentralBank}, rates, OTHER_TEST_KEY);
         return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
       }(),
       1,
       "rates of 2025-05-09 from the European Central Bank (ECB)\nsignature refused: signed with another key (key id " +
           otherId + ")\n"},
      {"cut short", {good.begin(), good.begin() + 100}, 1, "orvane-rates-query: signed rates: short reply"},
  };
  for (const Case& c : cases) {
    FakeRatesService service;
    service.SetReply(CMD_GET_VERSION, {FloatBytes(1.1f)});
    service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(0)});
    service.SetReply(CMD_GET_SIGNED_RATES, {c.record});
    const QueryRun run = Query("--host 127.0.0.1 --port " + std::to_string(service.Port()) + " --rates-key " + key);
    EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.output;
    EXPECT_NE(run.output.find(c.output), std::string::npos) << c.name << "\n" << run.output;
    // Never the unsigned rates, which anyone on the way could have changed.
    for (const auto& request : service.Requests()) EXPECT_NE(request.at(0), CMD_GET_RATES) << c.name;
  }
  const QueryRun noKey = Query("--rates-key " + dir.File("missing.pem"));
  EXPECT_EQ(noKey.status, 2) << noKey.output;
}
#endif

}  // namespace
