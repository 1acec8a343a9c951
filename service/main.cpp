#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "rates/rates_info.h"
#include "rates_file.h"
#include "rates_server.h"
#include "service_log.h"
#include "service_options.h"

namespace {

int CheckRatesFile(const std::string& path) {
  const RatesFile file = LoadRatesFile(path);
  if (!file.ok) {
    std::fprintf(stderr, "%s: refused (%s)\n", path.c_str(), file.error.c_str());
    return 1;
  }
  const RatesBank bank = file.source == RatesSource::EuropeanCentralBank ? RatesBank::EuropeanCentralBank
                                                                         : RatesBank::NationalBankOfRomania;
  std::printf("%s: rates of %s from the %s (%s)\n", path.c_str(), file.date.c_str(), BankName(bank), BankCode(bank));
  for (int i = 0; i < RATE_COUNT; ++i) std::printf("%-6s %.5f\n", CurrencyCodes[i], static_cast<double>(file.rates[i]));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const ParsedOptions parsed = ParseServiceOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.help) {
    std::fputs(ServiceUsage().c_str(), stdout);
    return 0;
  }
  if (!parsed.options) {
    MessageLines(LogPriority::Error, "orvane-rates-service: " + parsed.error + "\n(see --help)");
    return 2;
  }
  if (!parsed.options->checkPath.empty()) return CheckRatesFile(parsed.options->checkPath);
  // A client that goes away mid-reply must cost a failed send, not the process.
  std::signal(SIGPIPE, SIG_IGN);
  RatesServer server(*parsed.options);
  if (!server.Start()) return 1;
  server.Run();
  LogLine("stopped");
  return 0;
}
