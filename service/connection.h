#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include <asio.hpp>

#include "served_content.h"
#include "service_stats.h"

class Connection;

// "127.0.0.1:9000", "[::1]:9000"
std::string DescribeEndpoint(const asio::ip::tcp::endpoint& endpoint);

struct ConnectionSettings {
  bool quiet = false;  // no log line per connection
  std::chrono::milliseconds requestTimeout{5000};
  std::chrono::milliseconds transferTimeout{120000};
};

// The open connections, oldest first. A connection enters when it starts and leaves in its
// destructor, so the register never names a connection that is gone.
class ConnectionRegister {
 public:
  using Place = std::list<Connection*>::iterator;
  Place Enter(Connection* connection) { return m_open.insert(m_open.end(), connection); }
  void Leave(Place place) { m_open.erase(place); }
  std::size_t Size() const { return m_open.size(); }
  // Closes every connection; each then ends as its pending operations finish.
  void CloseAll(Outcome outcome);
  // Closes the oldest connection still waiting for its request: it has been given nothing yet,
  // so it costs the least. False when every one is past that.
  bool MakeRoom();

 private:
  std::list<Connection*> m_open;
};

// All that a connection may touch besides its own socket: the settings, the content to answer
// with, the counters and the register. The server and every connection own it together, so it
// outlives the last connection whatever order the server and its event loop go away in.
struct ConnectionContext {
  ConnectionSettings settings;
  std::shared_ptr<const ServedContent> content;
  ServiceCounters counters;
  ConnectionRegister open;
};

// One client connection: the 8-byte request within the request deadline, then the reply within
// the transfer deadline, then the close. After the reply the service half-closes (the file) or
// waits for the client's close (the short replies), draining what the client may still send, so
// that unread bytes never turn the close into a reset that could destroy the end of the reply
// before the client has read it. It lives as long as one of its operations is pending.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(std::shared_ptr<ConnectionContext> context, asio::ip::tcp::socket socket);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Start();
  bool WaitingForRequest() const { return m_waiting; }
  // An abortive close resets the connection and drops what the kernel still holds for it, so
  // that a client which stopped reading cannot keep megabytes of send buffer alive after us.
  // A graceful one lets the kernel deliver a reply that was written completely.
  void Close(Outcome outcome, bool abortive);

 private:
  void Arm(std::chrono::milliseconds timeout, Outcome outcome, bool abortive);
  void OnRequest(std::error_code error);
  void SendFile();
  void OnReplySent(std::error_code error);
  void Drain();

  std::shared_ptr<ConnectionContext> m_context;
  asio::ip::tcp::socket m_socket;
  asio::steady_timer m_deadline;
  ConnectionRegister::Place m_place;
  std::chrono::steady_clock::time_point m_started;
  std::string m_peer;  // for the log line only
  std::array<std::uint8_t, REQUEST_BYTES> m_request{};
  std::array<std::uint8_t, 64> m_discard{};        // what a client sends after its request
  std::shared_ptr<const ServedContent> m_content;  // what this connection answers with, to the end
  std::optional<std::int32_t> m_command;
  bool m_valid = false;
  std::size_t m_sent = 0;
  bool m_waiting = true;
  Outcome m_outcome = Outcome::Ok;
};
