#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// An address to listen on: an IPv4 or IPv6 literal and a port.
struct ListenAddress {
  std::string host;  // "127.0.0.1", "::1", "0.0.0.0", "::"
  std::uint16_t port = 0;
};

struct ServiceOptions {
  std::vector<ListenAddress> listen;  // default 127.0.0.1:9000
  std::string ratesPath;
  std::string checkPath;  // --check: only say whether this file would be served
  std::optional<float> offerVersion;
  std::string offerPath;
  std::string offerKeyPath;            // --offer-key: the offer's signature must be good for this key
  std::string ratesKeyPath;            // --rates-key: the private key that signs the rates record
  std::optional<std::uint32_t> today;  // --today, for tests: the date taken as today, YYYYMMDD
  bool quiet = false;
  std::chrono::milliseconds requestTimeout{5000};
  std::chrono::milliseconds transferTimeout{120000};
  std::chrono::milliseconds pollInterval{1000};
  std::size_t maxConnections = 10000;
  std::size_t maxConnectionsPerPeer = 64;      // open at once from one address
  int maxRatesAgeDays = 4;                     // older rates make /health answer 503
  bool reusePort = false;                      // SO_REUSEPORT: several processes share the port
  std::chrono::milliseconds statsInterval{0};  // 0: no counters in the log
  std::optional<ListenAddress> metrics;        // where the counters are served over HTTP
  bool handleSignals = true;                   // off where the embedding program owns the signals
};

struct ParsedOptions {
  std::optional<ServiceOptions> options;  // none for --help or an error
  bool help = false;
  std::string error;
};

ParsedOptions ParseServiceOptions(const std::vector<std::string>& arguments);
std::optional<ListenAddress> ParseListenAddress(const std::string& text);
std::string ServiceUsage();
