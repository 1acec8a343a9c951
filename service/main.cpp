#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "rates_server.h"
#include "service_log.h"
#include "service_options.h"

int main(int argc, char** argv) {
  const ParsedOptions parsed = ParseServiceOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.help) {
    std::fputs(ServiceUsage(), stdout);
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "orvane-rates-service: %s\n(see --help)\n", parsed.error.c_str());
    return 2;
  }
  // A client that goes away mid-reply must cost a failed send, not the process.
  std::signal(SIGPIPE, SIG_IGN);
  RatesServer server(*parsed.options);
  if (!server.Start()) return 1;
  server.Run();
  LogLine("stopped");
  return 0;
}
