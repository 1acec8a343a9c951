#pragma once

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio.hpp>

#include "connection.h"
#include "metrics_endpoint.h"
#include "served_content.h"
#include "service_options.h"
#include "update_signer.h"

class PrivateFile;

// The rates service on one event loop: listeners, connections with their deadlines, the rates
// file watch, the signals and the counters. Everything runs on the thread that calls Run().
class RatesServer {
 public:
  explicit RatesServer(ServiceOptions options);
  RatesServer(const RatesServer&) = delete;
  RatesServer& operator=(const RatesServer&) = delete;

  // Loads the rates and the offer and binds every address; false (with the reason logged) when
  // the service cannot start.
  bool Start();
  // Until SIGTERM or SIGINT, or Stop().
  void Run();
  void Stop();
  // Stop() for a thread other than the one in Run().
  void StopFromAnyThread();
  // The port of the first address listened on, the system's choice for port 0.
  std::uint16_t FirstPort() const;

 private:
  struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    bool operator==(const FileStamp& other) const;
  };

  bool Listen(const ListenAddress& address);
  void Accept(asio::ip::tcp::acceptor& acceptor);
  void Admit(asio::ip::tcp::socket socket);
  void WaitForSignal();
  void WatchRatesFile();
  void LogStats();
  std::string Metrics() const;
  StatsView View() const;
  bool ReloadRates(bool force);
  bool ReloadOffer();
  void Publish();
  bool LoadRatesKey();
  std::optional<std::uint32_t> Today() const;
  std::optional<std::int64_t> RatesAgeDays() const;
  void WarnIfRatesOld();

  // The loop is the first member and so the last to go: whatever it still holds (connections
  // among them) goes with it, after everything else here. Connections own their context
  // together with the server, so they never reach into a server that is gone.
  asio::io_context m_io;  // run by one thread: asio can then skip most of its locking
  ServiceOptions m_options;
  std::shared_ptr<ConnectionContext> m_context;
  asio::signal_set m_signals;
  asio::steady_timer m_pollTimer;
  asio::steady_timer m_acceptPause;
  asio::steady_timer m_statsTimer;
  std::vector<std::unique_ptr<asio::ip::tcp::acceptor>> m_acceptors;
  std::unique_ptr<MetricsEndpoint> m_metrics;
  std::size_t m_maxConnections;
  bool m_stopping = false;

  std::optional<FileStamp> m_ratesStamp;
  std::optional<RateTable> m_rates;
  std::string m_ratesDate;
  std::optional<SigningKey> m_ratesKey;
  std::optional<RatesRecordBytes> m_signedRates;  // of m_rates, when there is a rates key
  std::optional<std::uint32_t> m_oldRatesWarned;  // the day the last warning about old rates was logged
  std::optional<UpdateOffer> m_offer;
  std::shared_ptr<const PrivateFile> m_offerCopy;
};
