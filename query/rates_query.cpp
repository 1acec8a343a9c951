// orvane-rates-query: asks a rates service what Orvane would ask it, for people who run one.
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

#include "help_layout.h"

#include "net/rates_client.h"
#include "net/rates_record.h"
#include "rates/currency.h"
#include "rates/display_format.h"

#ifndef _WIN32
#include "update_signer.h"
#endif

#ifdef _WIN32
#include <winsock2.h>
#endif

namespace {

std::optional<std::uint16_t> ParsePort(const std::string& text) {
  unsigned value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size() || value == 0 || value > 65535)
    return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// The command line, parsed into `config` and `ratesKeyPath`.
void Describe(CLI::App& app, ClientConfig& config, std::string& ratesKeyPath) {
  app.description(
      "usage: orvane-rates-query [--host HOST] [--port PORT] [--rates-key PUBLIC.pem]\n"
      "  Prints the version and update size the service offers and its eighteen rates.\n");
  app.formatter(std::make_shared<HelpLayout>());
  app.set_help_flag();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--host", config.host,
                 std::string("the service's host name or address (default ") + ORVANE_RATES_HOST + ")")
      ->type_name("HOST");
  app.add_option_function<std::string>(
         "--port", [&config](const std::string& text) { config.port = *ParsePort(text); },
         "the service's TCP port (default " + std::to_string(RATES_PORT) + ")")
      ->type_name("PORT")
      ->check(CLI::Validator(
          [](std::string& text) {
            return ParsePort(text) ? std::string() : "the port must be a number from 1 to 65535";
          },
          ""));
#ifndef _WIN32
  app.add_option("--rates-key", ratesKeyPath,
                 "ask for the signed rates (command 5) and check them with this public\n"
                 "key: prints their date, their source and whether the signature is good")
      ->type_name("PUBLIC.pem");
#else
  (void)ratesKeyPath;
#endif
  app.set_help_flag("-h,--help", "this text");
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

// The signed record: its date and source, whether it verifies, and its rates into `rates`.
int CheckSignedRates(RatesClient& client, const UpdateKey& key, RateTable& rates) {
  RatesRecordBytes bytes{};
  if (!client.FetchRatesRecord(bytes)) return Failure("signed rates", client);
  const auto record = ParseRatesRecord(bytes);
  if (!record) {
    std::fprintf(stderr, "orvane-rates-query: signed rates: %s\n", DescribeRecordCheck(RecordCheck::Malformed));
    return 1;
  }
  std::printf("rates of %s from the %s (%s)\n", FormatIsoDate(record->info.date).c_str(), BankName(record->info.bank),
              BankCode(record->info.bank));
  const RecordCheck check = CheckRatesRecord(bytes, key);
  if (check != RecordCheck::Valid) {
    std::printf("signature refused: %s (key id %s)\n", DescribeRecordCheck(check), FormatKeyId(record->keyId).c_str());
    return 1;
  }
  std::printf("signature good (key id %s)\n", FormatKeyId(record->keyId).c_str());
  rates = record->rates;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ClientConfig config;
  std::string ratesKeyPath;
  CLI::App app;
  Describe(app, config, ratesKeyPath);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& error) {
    const std::vector<std::string> extras = app.remaining();
    std::string reason = extras.empty() ? error.what() : "unknown option " + extras.front();
    // A refused value is explained by its own message, without CLI11's "--option: " before it.
    if (dynamic_cast<const CLI::ValidationError*>(&error)) reason = reason.substr(reason.find(": ") + 2);
    std::fprintf(stderr, "orvane-rates-query: %s\n%s", reason.c_str(), app.help().c_str());
    return 2;
  }

  std::optional<UpdateKey> ratesKey;
#ifndef _WIN32
  if (!ratesKeyPath.empty()) {
    std::string error;
    ratesKey = ReadPublicKeyPem(ratesKeyPath, error);
    if (!ratesKey) {
      std::fprintf(stderr, "orvane-rates-query: --rates-key %s: %s\n", ratesKeyPath.c_str(), error.c_str());
      return 2;
    }
  }
#endif
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
  } else if (!ratesKey && !client.FetchRates(rates)) {
    status = Failure("rates", client);
  } else {
    std::printf("version %s\nupdate size %ld\n", Shortest(version).c_str(), static_cast<long>(size));
    if (ratesKey) status = CheckSignedRates(client, *ratesKey, rates);
    if (status == 0)
      for (int i = 0; i < RATE_COUNT; ++i) std::printf("%-6s %s\n", CurrencyCodes[i], FormatRate(rates[i]).c_str());
  }
#ifdef _WIN32
  WSACleanup();
#endif
  return status;
}
