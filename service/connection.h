#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
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

// Where a connection is in its life. When the service is full, the stages say who makes room.
enum class Stage : std::uint8_t {
  Waiting,  // for its 8 bytes: it has been given nothing yet
  Reply,    // sending its reply; the library's until the client closes
  Drain,    // a short reply sent, waiting for the client's close
  Closing,  // closed, its pending operations still finishing
};
inline constexpr std::size_t STAGE_COUNT = 4;

// The open connections by stage, each stage oldest first, and how many each peer holds. A
// connection enters when it starts and leaves in its destructor, so the register never names a
// connection that is gone.
class ConnectionRegister {
 public:
  using Place = std::list<Connection*>::iterator;
  Place Enter(Connection* connection, const asio::ip::address& peer);
  // To the end of the later stage's list: its order stays that of arrival in that stage.
  void Move(Place place, Stage from, Stage to);
  void Leave(Place place, Stage stage, const asio::ip::address& peer);
  std::size_t Size() const;    // every connection, the closing ones too
  std::size_t Active() const;  // those not yet closed: what the cap counts
  std::size_t FromPeer(const asio::ip::address& peer) const;
  // Closes every connection; each then ends as its pending operations finish.
  void CloseAll(Outcome outcome);
  // Closes one connection, the cheapest to lose first: the oldest still waiting for its request
  // (given nothing yet), else the oldest kept open after its reply (it has had it), else the
  // library transfer among the oldest that moves the fewest bytes a second, which holds its
  // place the longest, else the oldest whose request has come but is not read yet.
  // A client that holds connections open or reads slowly cannot so keep a newcomer out, nor
  // can a newcomer push out a client that has sent its request while the service was busy.
  // False when none is in those stages.
  bool MakeRoom();

 private:
  std::list<Connection*>& In(Stage stage) { return m_stages[static_cast<std::size_t>(stage)]; }

  std::array<std::list<Connection*>, STAGE_COUNT> m_stages;
  std::map<asio::ip::address, std::size_t> m_peers;
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
  Connection(std::shared_ptr<ConnectionContext> context, asio::ip::tcp::socket socket, asio::ip::address peer);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Start();
  bool WaitingForRequest() const { return m_stage == Stage::Waiting; }
  // Whether bytes of the client wait in the kernel, unread: then the service is behind with this
  // connection, not its client.
  bool UnreadBytes();
  // A library transfer's bytes a second so far, as the client took them; nothing for any other reply.
  std::optional<double> FileRate(std::chrono::steady_clock::time_point now);
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
  void EnterStage(Stage stage);

  std::shared_ptr<ConnectionContext> m_context;
  asio::ip::tcp::socket m_socket;
  asio::steady_timer m_deadline;
  asio::ip::address m_address;
  Stage m_stage = Stage::Waiting;
  ConnectionRegister::Place m_place;
  std::chrono::steady_clock::time_point m_started;
  std::chrono::steady_clock::time_point m_replyStarted;
  std::string m_peer;  // for the log line only
  std::array<std::uint8_t, REQUEST_BYTES> m_request{};
  std::array<std::uint8_t, 64> m_discard{};        // what a client sends after its request
  std::shared_ptr<const ServedContent> m_content;  // what this connection answers with, to the end
  std::optional<std::int32_t> m_command;
  bool m_valid = false;
  std::size_t m_sent = 0;
  Outcome m_outcome = Outcome::Ok;
};
