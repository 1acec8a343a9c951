#include "service_options.h"

#include <charconv>
#include <cmath>

#include <CLI/CLI.hpp>

#include "help_layout.h"
#include "rates/rates_info.h"

namespace {

template <typename Number>
std::optional<Number> ParseNumber(const std::string& text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::size_t> ParsePositive(const std::string& text) {
  const auto count = ParseNumber<std::size_t>(text);
  return count && *count > 0 ? count : std::nullopt;
}

std::optional<std::chrono::milliseconds> ParseSeconds(const std::string& text) {
  const auto seconds = ParseNumber<double>(text);
  if (!seconds || !std::isfinite(*seconds) || *seconds <= 0 || *seconds > 86400) return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(std::ceil(*seconds * 1000)));
}

// An option whose value `parse` turns into `target`; a value it refuses is an error that says
// what the option wants.
template <typename Target, typename Parse>
CLI::Option* AddParsed(CLI::App& app, const char* name, const char* value, const char* help, Target& target,
                       Parse parse, std::string wants) {
  return app
      .add_option_function<std::string>(
          name, [&target, parse](const std::string& text) { target = *parse(text); }, help)
      ->type_name(value)
      ->check(CLI::Validator(
          [parse, wants](std::string& text) { return parse(text) ? std::string() : wants + ", not " + text; }, ""));
}

constexpr const char* DESCRIPTION =
    R"(Usage: orvane-rates-service --rates FILE [options]

Serves exchange rates against the Romanian leu to Orvane over its TCP protocol: one connection
per request, an 8-byte request (two little-endian int32: command, argument), a raw reply, then
the service closes the connection.
  command 1, argument 1: the 18 rates, 72 bytes of little-endian float32
  command 3, argument 1: the offered client version, float32 (1.1 when nothing is offered)
  command 4, argument 1: the size of the offered library, int32 (0 when nothing is offered)
  command 2, argument 0: the offered library's bytes
  command 5, argument 1: the signed rates record, 160 bytes (only with --rates-key)
Any other request is closed without a reply.
)";

constexpr const char* FOOTER = R"(
Logs go to stderr, one line per connection: peer, command, bytes sent, time, outcome.
SIGTERM and SIGINT stop the service (exit status 0); SIGHUP reloads the rates and the offer.
When stderr is the journal (JOURNAL_STREAM is set), lines carry a syslog priority instead of a
time stamp.
)";

// The service's command line; parses into `options`.
void Describe(CLI::App& app, ServiceOptions& options) {
  app.description(DESCRIPTION);
  app.footer(FOOTER);
  app.formatter(std::make_shared<HelpLayout>());
  app.set_help_flag();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  auto text = [](const std::string& value) { return std::optional<std::string>(value); };

  AddParsed(app, "--rates", "FILE",
            "reference rates: the National Bank of Romania's nbrfxrates.xml (newest\n"
            "day served) or the European Central Bank's eurofxref daily XML (RON cross\n"
            "rates; XAU, XDR, EGP and MDL, which it lacks, are served as 0). The file is\n"
            "re-read when it changes and on SIGHUP; a file that is not complete and\n"
            "valid is logged and the last good rates stay in service. Required.",
            options.ratesPath, text, "a file");
  app.add_option_function<std::vector<std::string>>(
         "--listen",
         [&options](const std::vector<std::string>& values) {
           for (const std::string& value : values) options.listen.push_back(*ParseListenAddress(value));
         },
         "address to listen on, IPv4 or [IPv6]; may be given more than once\n"
         "(default 127.0.0.1:9000; port 0 takes a free port, logged at start)")
      ->type_name("ADDR:PORT")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::Validator(
          [](std::string& value) {
            return ParseListenAddress(value) ? std::string() : "wants ADDRESS:PORT or [IPV6]:PORT, not " + value;
          },
          ""));
  app.add_flag("--reuse-port", options.reusePort,
               "share the port with other instances of the service (SO_REUSEPORT):\n"
               "the kernel spreads new connections over them, so that several\n"
               "processes serve one machine's cores");
  AddParsed(
      app, "--offer-version", "V", "offer an update to clients whose version differs from V", options.offerVersion,
      [](const std::string& value) {
        const auto version = ParseNumber<float>(value);
        return version && std::isfinite(*version) ? version : std::nullopt;
      },
      "wants a number");
  AddParsed(app, "--offer-file", "FILE",
            "the library (BrennikDll.dll) offered with --offer-version; re-read on SIGHUP.\n"
            "It must end in a signature block (orvane-sign sign)",
            options.offerPath, text, "a file");
  AddParsed(app, "--offer-key", "PUBLIC.pem",
            "offer the library only when its signature is good for this key,\n"
            "checked at start and at every reload of the offer",
            options.offerKeyPath, text, "a file");
  AddParsed(app, "--rates-key", "KEY.pem",
            "sign the rates with this private P-256 key (PEM) and answer command 5\n"
            "with the signed record of their date, source and rates; without it\n"
            "command 5 is closed without a reply",
            options.ratesKeyPath, text, "a file");
  AddParsed(
      app, "--today", "YYYY-MM-DD",
      "for tests: take this date as today for the rates' age (default: the\n"
      "local date of the machine)",
      options.today, [](const std::string& value) { return ParseIsoDate(value); }, "wants a date YYYY-MM-DD");
  app.add_flag("--quiet", options.quiet, "no line per connection (start, reloads and errors are still logged)");
  AddParsed(app, "--request-timeout", "S", "seconds a client has to send its 8 bytes (default 5)",
            options.requestTimeout, ParseSeconds, "wants a number of seconds");
  AddParsed(app, "--transfer-timeout", "S", "seconds for a whole reply, the library included (default 120)",
            options.transferTimeout, ParseSeconds, "wants a number of seconds");
  AddParsed(app, "--poll-interval", "S", "seconds between checks of the rates file for changes (default 1)",
            options.pollInterval, ParseSeconds, "wants a number of seconds");
  AddParsed(app, "--max-connections", "N",
            "open connections at most (default 10000, and no more than the open-file\n"
            "limit allows); when full, a new one makes room by closing the oldest\n"
            "connection still waiting for its request, else the oldest one kept open\n"
            "after its reply, else the slowest library transfer",
            options.maxConnections, ParsePositive, "wants a positive number");
  AddParsed(app, "--max-connections-per-peer", "N",
            "open connections at most from one address, or one IPv6 /64 (default 64);\n"
            "more are closed at once. Behind a proxy every connection comes from the\n"
            "proxy: raise it",
            options.maxConnectionsPerPeer, ParsePositive, "wants a positive number");
  AddParsed(
      app, "--max-rates-age-days", "D",
      "GET /health on the --metrics address answers 200 while the rates' day\n"
      "is at most D days old, else 503 (default 4: a weekend and a holiday)",
      options.maxRatesAgeDays,
      [](const std::string& value) {
        const auto days = ParseNumber<int>(value);
        return days && *days >= 0 && *days <= 3650 ? days : std::nullopt;
      },
      "wants a number of days");
  AddParsed(app, "--stats-interval", "S",
            "log one line of counters every S seconds: connections by command and\n"
            "outcome, connections accepted and open, refusals by reason (cap, per\n"
            "peer, metrics), bytes sent, the rates' day and the offered version\n"
            "(default: never)",
            options.statsInterval, ParseSeconds, "wants a number of seconds");
  AddParsed(
      app, "--metrics", "[ADDR:]PORT",
      "serve the same counters read-only over HTTP at /metrics in the\n"
      "Prometheus text format, and a health check at /health (200 or 503 with\n"
      "the reason); ADDR is 127.0.0.1 when not given. 16 requests at once at most",
      options.metrics,
      [](const std::string& value) {
        return value.find(':') == std::string::npos ? ParseListenAddress("127.0.0.1:" + value)
                                                    : ParseListenAddress(value);
      },
      "wants [ADDRESS:]PORT");
  AddParsed(app, "--check", "FILE",
            "only check a rates file: print the day, the source and the rates it\n"
            "would serve and exit with 0, or say why it would be refused and exit with 1 (for a\n"
            "download job, before it moves a new file into place)",
            options.checkPath, text, "a file");
  app.set_help_flag("-h,--help", "this text");
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
  CLI::App app;
  Describe(app, options);
  try {
    app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));  // CLI11 takes them last first
  } catch (const CLI::CallForHelp&) {
    parsed.help = true;
    return parsed;
  } catch (const CLI::ExtrasError&) {
    parsed.error = "unknown option: " + app.remaining().front();
    return parsed;
  } catch (const CLI::ParseError& error) {
    parsed.error = error.what();
    return parsed;
  }
  if (!options.checkPath.empty()) {
    parsed.options = options;
    return parsed;
  }
  if (options.ratesPath.empty()) {
    parsed.error = "--rates FILE is required";
  } else if (options.offerVersion.has_value() != !options.offerPath.empty()) {
    parsed.error = "--offer-version and --offer-file go together";
  } else if (!options.offerKeyPath.empty() && options.offerPath.empty()) {
    parsed.error = "--offer-key goes with --offer-file";
  } else {
    if (options.listen.empty()) options.listen.push_back({"127.0.0.1", 9000});
    parsed.options = options;
  }
  return parsed;
}

std::string ServiceUsage() {
  ServiceOptions ignored;
  CLI::App app;
  Describe(app, ignored);
  return app.help();
}
