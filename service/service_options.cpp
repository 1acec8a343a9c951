#include "service_options.h"

#include <charconv>
#include <cmath>

namespace {

template <typename Number>
std::optional<Number> ParseNumber(const std::string& text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::chrono::milliseconds> ParseSeconds(const std::string& text) {
  const auto seconds = ParseNumber<double>(text);
  if (!seconds || !std::isfinite(*seconds) || *seconds <= 0 || *seconds > 86400) return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(std::ceil(*seconds * 1000)));
}

}  // namespace

std::optional<ListenAddress> ParseListenAddress(const std::string& text) {
  ListenAddress address;
  std::string port;
  if (text.starts_with("[")) {
    const std::size_t close = text.find("]:");
    if (close == std::string::npos) return std::nullopt;
    address.host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon) return std::nullopt;
    address.host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  const auto number = ParseNumber<unsigned>(port);
  if (address.host.empty() || !number || *number > 65535) return std::nullopt;
  address.port = static_cast<std::uint16_t>(*number);
  return address;
}

ParsedOptions ParseServiceOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  ServiceOptions options;
  auto fail = [&](std::string error) {
    parsed.error = std::move(error);
    return parsed;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (name == "--help" || name == "-h") {
      parsed.help = true;
      return parsed;
    }
    if (name == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (i + 1 >= arguments.size()) return fail("unknown option or missing value: " + name);
    const std::string& value = arguments[++i];
    if (name == "--listen") {
      const auto address = ParseListenAddress(value);
      if (!address) return fail("--listen wants ADDRESS:PORT or [IPV6]:PORT, not " + value);
      options.listen.push_back(*address);
    } else if (name == "--rates") {
      options.ratesPath = value;
    } else if (name == "--check") {
      options.checkPath = value;
    } else if (name == "--offer-version") {
      const auto version = ParseNumber<float>(value);
      if (!version || !std::isfinite(*version)) return fail("--offer-version wants a number, not " + value);
      options.offerVersion = *version;
    } else if (name == "--offer-file") {
      options.offerPath = value;
    } else if (name == "--offer-key") {
      options.offerKeyPath = value;
    } else if (name == "--request-timeout" || name == "--transfer-timeout" || name == "--poll-interval") {
      const auto duration = ParseSeconds(value);
      if (!duration) return fail(name + " wants a number of seconds, not " + value);
      (name == "--request-timeout"    ? options.requestTimeout
       : name == "--transfer-timeout" ? options.transferTimeout
                                      : options.pollInterval) = *duration;
    } else if (name == "--max-connections") {
      const auto count = ParseNumber<std::size_t>(value);
      if (!count || *count == 0) return fail("--max-connections wants a positive number, not " + value);
      options.maxConnections = *count;
    } else {
      return fail("unknown option: " + name);
    }
  }
  if (!options.checkPath.empty()) {
    parsed.options = options;
    return parsed;
  }
  if (options.ratesPath.empty()) return fail("--rates FILE is required");
  if (options.offerVersion.has_value() != !options.offerPath.empty())
    return fail("--offer-version and --offer-file go together");
  if (!options.offerKeyPath.empty() && options.offerPath.empty()) return fail("--offer-key goes with --offer-file");
  if (options.listen.empty()) options.listen.push_back({"127.0.0.1", 9000});
  parsed.options = options;
  return parsed;
}

const char* ServiceUsage() {
  return R"(Usage: orvane-rates-service --rates FILE [options]

Serves exchange rates against the Romanian leu to Orvane over its TCP protocol: one connection
per request, an 8-byte request (two little-endian int32: command, argument), a raw reply, then
the service closes the connection.
  command 1, argument 1: the 18 rates, 72 bytes of little-endian float32
  command 3, argument 1: the offered client version, float32 (1.1 when nothing is offered)
  command 4, argument 1: the size of the offered library, int32 (0 when nothing is offered)
  command 2, argument 0: the offered library's bytes
Any other request is closed without a reply.

Options:
  --rates FILE            reference rates: the National Bank of Romania's nbrfxrates.xml (newest
                          day served) or the European Central Bank's eurofxref daily XML (RON cross
                          rates; XAU, XDR, EGP and MDL, which it lacks, are served as 0). The file is
                          re-read when it changes and on SIGHUP; a file that is not complete and
                          valid is logged and the last good rates stay in service. Required.
  --listen ADDR:PORT      address to listen on, IPv4 or [IPv6]; may be given more than once
                          (default 127.0.0.1:9000; port 0 takes a free port, logged at start)
  --offer-version V       offer an update to clients whose version differs from V
  --offer-file FILE       the library (BrennikDll.dll) offered with --offer-version; re-read on SIGHUP.
                          It must end in a signature block (orvane-sign sign)
  --offer-key PUBLIC.pem  offer the library only when its signature is good for this key,
                          checked at start and at every reload of the offer
  --quiet                 no line per connection (start, reloads and errors are still logged)
  --request-timeout S     seconds a client has to send its 8 bytes (default 5)
  --transfer-timeout S    seconds for a whole reply, the library included (default 120)
  --poll-interval S       seconds between checks of the rates file for changes (default 1)
  --max-connections N     open connections at most (default 10000, and no more than the open-file
                          limit allows); when full, the oldest connection still waiting for its
                          request makes room, or the new one is closed
  --check FILE            only check a rates file: print the day and the rates it would serve and
                          exit with 0, or say why it would be refused and exit with 1 (for a
                          download job, before it moves a new file into place)
  --help                  this text

Logs go to stderr, one line per connection: peer, command, bytes sent, time, outcome.
SIGTERM and SIGINT stop the service (exit status 0); SIGHUP reloads the rates and the offer.
)";
}
