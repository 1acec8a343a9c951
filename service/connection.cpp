#include "connection.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "private_file.h"
#include "service_log.h"

std::string DescribeEndpoint(const asio::ip::tcp::endpoint& endpoint) {
  const asio::ip::address address = endpoint.address();
  // Appended piece by piece: "[" + string trips GCC 12's -Wrestrict at -O2 (a false alarm).
  std::string text;
  if (address.is_v6()) text += '[';
  text += address.to_string();
  if (address.is_v6()) text += ']';
  text += ':';
  text += std::to_string(endpoint.port());
  return text;
}

ConnectionRegister::Place ConnectionRegister::Enter(Connection* connection, const asio::ip::address& peer) {
  ++m_peers[peer];
  std::list<Connection*>& waiting = In(Stage::Waiting);
  return waiting.insert(waiting.end(), connection);
}

void ConnectionRegister::Move(Place place, Stage from, Stage to) { In(to).splice(In(to).end(), In(from), place); }

void ConnectionRegister::Leave(Place place, Stage stage, const asio::ip::address& peer) {
  In(stage).erase(place);
  const auto count = m_peers.find(peer);
  if (count != m_peers.end() && --count->second == 0) m_peers.erase(count);
}

std::size_t ConnectionRegister::Size() const {
  return Active() + m_stages[static_cast<std::size_t>(Stage::Closing)].size();
}

std::size_t ConnectionRegister::Active() const {
  return m_stages[static_cast<std::size_t>(Stage::Waiting)].size() +
         m_stages[static_cast<std::size_t>(Stage::Reply)].size() +
         m_stages[static_cast<std::size_t>(Stage::Drain)].size();
}

std::size_t ConnectionRegister::FromPeer(const asio::ip::address& peer) const {
  const auto count = m_peers.find(peer);
  return count == m_peers.end() ? 0 : count->second;
}

void ConnectionRegister::CloseAll(Outcome outcome) {
  // Closing moves a connection to the closing list: take the list of them first.
  std::vector<Connection*> open;
  for (Stage stage : {Stage::Waiting, Stage::Reply, Stage::Drain})
    open.insert(open.end(), In(stage).begin(), In(stage).end());
  for (Connection* connection : open) connection->Close(outcome, true);
}

bool ConnectionRegister::MakeRoom() {
  // A connection whose request has come is waiting for the service, not for its client: under
  // load a newcomer's accept can come before that request is read. The oldest few are looked
  // at, a system call each; a connection that waits for its client is nearly always the first.
  constexpr int MAX_WAITING_CANDIDATES = 16;
  int looked = 0;
  for (Connection* connection : In(Stage::Waiting)) {
    if (++looked > MAX_WAITING_CANDIDATES) break;
    if (!connection->UnreadBytes()) {
      connection->Close(Outcome::MadeRoom, true);  // moves it out of the list: no more iterating
      return true;
    }
  }
  // Gracefully: the reply was written whole, and a reset could destroy it before the client has
  // read it (Windows drops what it has not yet read when a reset arrives).
  if (!In(Stage::Drain).empty()) {
    In(Stage::Drain).front()->Close(Outcome::MadeRoom, false);
    return true;
  }
  // The oldest transfers only: a slow one stays in the list the longest, and a full service must
  // not spend a system call on each of thousands of transfers for every newcomer.
  constexpr int MAX_CANDIDATES = 256;
  const auto now = std::chrono::steady_clock::now();
  Connection* slowest = nullptr;
  double slowestRate = 0;
  int candidates = 0;
  for (Connection* connection : In(Stage::Reply)) {
    const auto rate = connection->FileRate(now);
    if (!rate) continue;
    if (!slowest || *rate < slowestRate) slowest = connection, slowestRate = *rate;
    if (++candidates == MAX_CANDIDATES) break;
  }
  if (slowest) {
    slowest->Close(Outcome::MadeRoom, true);
    return true;
  }
  if (!In(Stage::Waiting).empty()) {
    In(Stage::Waiting).front()->Close(Outcome::MadeRoom, true);
    return true;
  }
  return false;
}

Connection::Connection(std::shared_ptr<ConnectionContext> context, asio::ip::tcp::socket socket, asio::ip::address peer)
    : m_context(std::move(context)),
      m_socket(std::move(socket)),
      m_deadline(m_socket.get_executor()),
      m_address(std::move(peer)),
      m_place(m_context->open.Enter(this, m_address)),
      m_started(std::chrono::steady_clock::now()) {
  ++m_context->counters.accepted;
  // The port is only needed for the log line; --quiet saves the system call.
  if (!m_context->settings.quiet) {
    std::error_code error;
    const auto peerEndpoint = m_socket.remote_endpoint(error);
    m_peer = error ? "unknown peer" : DescribeEndpoint(peerEndpoint);
  }
}

Connection::~Connection() {
  m_context->open.Leave(m_place, m_stage, m_address);
  ServiceCounters& counters = m_context->counters;
  ++counters.ended[CommandSlot(m_command.value_or(0), m_valid)][static_cast<std::size_t>(m_outcome)];
  counters.bytesSent += m_sent;
  if (m_context->settings.quiet) return;
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_started).count();
  char line[256];
  std::snprintf(line, sizeof line, "%s command %s bytes %zu time %.3f ms %s", m_peer.c_str(),
                m_command ? std::to_string(*m_command).c_str() : "-", m_sent, static_cast<double>(micros) / 1000.0,
                DescribeOutcome(m_outcome));
  LogLine(line);
}

void Connection::Start() {
  Arm(m_context->settings.requestTimeout, Outcome::RequestTimeout, true);
  asio::async_read(m_socket, asio::buffer(m_request),
                   [self = shared_from_this()](std::error_code error, std::size_t) { self->OnRequest(error); });
}

void Connection::Close(Outcome outcome, bool abortive) {
  if (!m_socket.is_open()) return;
  EnterStage(Stage::Closing);  // no longer a candidate to make room
  m_outcome = outcome;
  std::error_code ignored;
  if (abortive) m_socket.set_option(asio::socket_base::linger(true, 0), ignored);
  m_socket.close(ignored);
  m_deadline.cancel();
}

void Connection::Arm(std::chrono::milliseconds timeout, Outcome outcome, bool abortive) {
  m_deadline.expires_after(timeout);
  m_deadline.async_wait([self = shared_from_this(), outcome, abortive](std::error_code error) {
    if (!error) self->Close(outcome, abortive);
  });
}

void Connection::EnterStage(Stage stage) {
  if (m_stage == stage) return;
  m_context->open.Move(m_place, m_stage, stage);
  m_stage = stage;
}

bool Connection::UnreadBytes() {
  int unread = 0;
  return ioctl(m_socket.native_handle(), FIONREAD, &unread) == 0 && unread > 0;
}

// Counted in what the client has acknowledged, not in what was written: the kernel takes megabytes
// into the send buffer at once, which would make every new transfer look fast, a stalled one too.
std::optional<double> Connection::FileRate(std::chrono::steady_clock::time_point now) {
  if (m_command != CMD_GET_UPDATE_FILE) return std::nullopt;
  int unacknowledged = 0;
  if (ioctl(m_socket.native_handle(), SIOCOUTQ, &unacknowledged) != 0 || unacknowledged < 0) unacknowledged = 0;
  const std::size_t delivered = m_sent - std::min(m_sent, static_cast<std::size_t>(unacknowledged));
  const double seconds = std::chrono::duration<double>(now - m_replyStarted).count();
  return static_cast<double>(delivered) / std::max(seconds, 0.001);
}

void Connection::OnRequest(std::error_code error) {
  if (error) {
    if (m_socket.is_open()) Close(error == asio::error::eof ? Outcome::ClientGone : Outcome::ReceiveFailed, true);
    return;
  }
  m_content = m_context->content;
  const Answer answer = AnswerRequest(m_request, *m_content);
  m_command = answer.command;
  m_valid = answer.valid;
  if (!answer.valid) return Close(Outcome::Refused, true);
  EnterStage(Stage::Reply);
  m_replyStarted = std::chrono::steady_clock::now();
  Arm(m_context->settings.transferTimeout, Outcome::TransferTimeout, true);
  if (m_command == CMD_GET_UPDATE_FILE) {
    // From the file the kernel fills whole segments, and the shutdown after the last byte sends
    // the remainder at once: no socket option is needed.
    if (m_content->fileCopy) return SendFile();
    // From memory, the file's last small piece should not wait for the acknowledgement of the one before.
    std::error_code ignored;
    m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
  }
  // The progress is kept as it goes, so that the slowest transfer can be told when room is needed.
  asio::async_write(
      m_socket, asio::buffer(answer.bytes.data(), answer.bytes.size()),
      [this](std::error_code writeError, std::size_t sent) -> std::size_t {
        m_sent = sent;
        return writeError ? 0 : asio::detail::default_max_transfer_size;
      },
      [self = shared_from_this()](std::error_code writeError, std::size_t sent) {
        self->m_sent = sent;
        self->OnReplySent(writeError);
      });
}

// The kernel copies from the private file straight into the socket, as much as the socket takes
// each time it is ready; nothing of the file passes through this process.
void Connection::SendFile() {
  const PrivateFile& file = *m_content->fileCopy;
  std::error_code error;
  // Asio has made the socket non-blocking for its own reads already; asking again costs a system call.
  if (!m_socket.native_non_blocking()) m_socket.native_non_blocking(true, error);
  while (!error && m_sent < file.Size()) {
    off_t offset = static_cast<off_t>(m_sent);
    const ssize_t count = sendfile(m_socket.native_handle(), file.Descriptor(), &offset, file.Size() - m_sent);
    if (count > 0) {
      m_sent += static_cast<std::size_t>(count);
    } else if (count < 0 && errno == EAGAIN) {
      m_socket.async_wait(asio::socket_base::wait_write, [self = shared_from_this()](std::error_code waitError) {
        if (waitError) return self->OnReplySent(waitError);
        self->SendFile();
      });
      return;
    } else if (count < 0 && errno != EINTR) {
      error = std::error_code(errno, std::system_category());
    } else if (count == 0) {
      error = asio::error::eof;  // cannot happen with a file nobody shortens; never loop on it
    }
  }
  OnReplySent(error);
}

void Connection::OnReplySent(std::error_code error) {
  if (error) {
    if (m_socket.is_open()) Close(Outcome::SendFailed, true);
    return;
  }
  m_outcome = Outcome::Ok;
  // The library's last megabytes may still be in the kernel's buffer: it is still a transfer,
  // measured by what the client takes, until the client closes.
  if (m_command != CMD_GET_UPDATE_FILE) EnterStage(Stage::Drain);
  // The file's last piece is completed by our close, so it goes out right after the last byte.
  // The signed record's too: the client takes it only when the close follows its 160 bytes, so
  // that nothing can be added after a signature. The other replies of fixed length are read
  // exactly and the client closes first: the TIME_WAIT of most connections then stays with the
  // client instead of piling up here.
  if (m_command == CMD_GET_UPDATE_FILE || m_command == CMD_GET_SIGNED_RATES) {
    std::error_code ignored;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
  }
  m_content.reset();
  // A client that keeps the connection open after its reply gets no longer than one for its request.
  Arm(m_context->settings.requestTimeout, Outcome::Ok, false);
  Drain();
}

// Reads whatever the client still sends and throws it away, until it closes. A read rather than a
// wait for readiness: asio tries it at once and needs no change to the poll set for it.
void Connection::Drain() {
  m_socket.async_read_some(asio::buffer(m_discard), [self = shared_from_this()](std::error_code error, std::size_t) {
    if (!error) return self->Drain();
    self->Close(self->m_outcome, false);
  });
}
