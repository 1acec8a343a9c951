#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "fake_rates_service.h"
#include "protocol.h"
#include "test_sockets.h"
#include "test_support.h"

namespace {

using QueryRun = CommandRun;

QueryRun Query(const std::string& arguments) {
  return RunCommand(std::string("\"") + ORVANE_QUERY_PROGRAM + "\" " + arguments);
}

std::vector<std::uint8_t> RatesReply() {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 18; ++i) {
    const auto rate = FloatBytes(i == 10 ? 1.5678f : static_cast<float>(i) + 0.25f);
    bytes.insert(bytes.end(), rate.begin(), rate.end());
  }
  return bytes;
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

}  // namespace
