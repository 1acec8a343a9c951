// orvane-rates-query: asks a rates service what Orvane would ask it, for people who run one.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "currency.h"
#include "display_format.h"
#include "rates_client.h"

#ifdef _WIN32
#include <winsock2.h>
#endif

namespace {

int Usage(const char* reason) {
  std::FILE* out = reason ? stderr : stdout;
  if (reason) std::fprintf(stderr, "orvane-rates-query: %s\n", reason);
  std::fprintf(out,
               "usage: orvane-rates-query [--host HOST] [--port PORT]\n"
               "  Prints the version and update size the service offers and its eighteen rates.\n"
               "  Defaults: --host %s --port %d\n",
               ORVANE_RATES_HOST, RATES_PORT);
  return reason ? 2 : 0;
}

bool ParsePort(const char* text, std::uint16_t& port) {
  unsigned value = 0;
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, value);
  if (result.ec != std::errc{} || result.ptr != end || value == 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

int Failure(const char* what, const RatesClient& client) {
  std::fprintf(stderr, "orvane-rates-query: %s: %s\n", what, DescribeClientError(client.LastError()));
  return 1;
}

std::string Shortest(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace

int main(int argc, char** argv) {
  ClientConfig config;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") return Usage(nullptr);
    if (i + 1 >= argc) return Usage(("missing value after " + option).c_str());
    if (option == "--host") {
      config.host = argv[++i];
    } else if (option == "--port") {
      if (!ParsePort(argv[++i], config.port)) return Usage("the port must be a number from 1 to 65535");
    } else {
      return Usage(("unknown option " + option).c_str());
    }
  }

#ifdef _WIN32
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    std::fprintf(stderr, "orvane-rates-query: cannot start Windows Sockets\n");
    return 1;
  }
#endif
  auto sockets = MakePlatformSockets();
  RatesClient client(*sockets, config);
  float version = 0;
  std::int32_t size = 0;
  RateTable rates{};
  int status = 0;
  if (!client.FetchVersion(version)) {
    status = Failure("version", client);
  } else if (!client.FetchUpdateSize(size)) {
    status = Failure("update size", client);
  } else if (!client.FetchRates(rates)) {
    status = Failure("rates", client);
  } else {
    std::printf("version %s\nupdate size %ld\n", Shortest(version).c_str(), static_cast<long>(size));
    for (int i = 0; i < RATE_COUNT; ++i) std::printf("%-6s %s\n", CurrencyCodes[i], FormatRate(rates[i]).c_str());
  }
#ifdef _WIN32
  WSACleanup();
#endif
  return status;
}
