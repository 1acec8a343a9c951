#pragma once

#include <sys/stat.h>

#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio.hpp>

#include "served_content.h"
#include "service_options.h"

class Connection;

// The rates service on one event loop: listeners, connections with their deadlines, the rates
// file watch and the signals. Everything runs on the thread that calls Run().
class RatesServer {
 public:
  explicit RatesServer(ServiceOptions options);
  ~RatesServer();
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
  friend class Connection;

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
  bool MakeRoom();
  void WaitForSignal();
  void WatchRatesFile();
  bool ReloadRates(bool force);
  bool ReloadOffer();
  void Publish();

  ServiceOptions m_options;
  asio::io_context m_io;  // run by one thread: asio can then skip most of its locking
  asio::signal_set m_signals;
  asio::steady_timer m_pollTimer;
  asio::steady_timer m_acceptPause;
  std::vector<std::unique_ptr<asio::ip::tcp::acceptor>> m_acceptors;
  std::list<Connection*> m_connections;  // oldest first; each removes itself when it ends
  std::size_t m_maxConnections;
  bool m_stopping = false;

  std::optional<FileStamp> m_ratesStamp;
  std::optional<RateTable> m_rates;
  std::string m_ratesDate;
  std::optional<UpdateOffer> m_offer;
  std::shared_ptr<const ServedContent> m_content;
};
