#include "rates_server.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "rates_file.h"
#include "service_log.h"
#include "update_offer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr off_t MAX_RATES_FILE_BYTES = 16 << 20;

// Some descriptors stay free for the listeners, the rates file and the log.
constexpr rlim_t RESERVED_FILES = 32;

std::size_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur > RESERVED_FILES ? static_cast<std::size_t>(limit.rlim_cur - RESERVED_FILES) : 1;
}

std::string Describe(const asio::ip::tcp::endpoint& endpoint) {
  const asio::ip::address address = endpoint.address();
  const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
  return host + ":" + std::to_string(endpoint.port());
}

const char* SourceName(RatesSource source) {
  return source == RatesSource::EuropeanCentralBank ? "European Central Bank" : "National Bank of Romania";
}

}  // namespace

// One client connection: the 8-byte request within the request deadline, then the reply within
// the transfer deadline, then the close. After the reply the service half-closes and drains what
// the client may still send, so that unread bytes never turn the close into a reset that could
// destroy the end of the reply before the client has read it.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(RatesServer& server, asio::ip::tcp::socket socket)
      : m_server(server), m_socket(std::move(socket)), m_deadline(server.m_io), m_started(Clock::now()) {
    // The peer is only needed for the log line; --quiet saves the system call.
    if (!m_server.m_options.quiet) {
      std::error_code error;
      const auto peer = m_socket.remote_endpoint(error);
      m_peer = error ? "unknown peer" : Describe(peer);
    }
    m_place = m_server.m_connections.insert(m_server.m_connections.end(), this);
  }

  ~Connection() {
    m_server.m_connections.erase(m_place);
    if (m_server.m_options.quiet) return;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_started).count();
    char line[256];
    std::snprintf(line, sizeof line, "%s command %s bytes %zu time %.3f ms %s", m_peer.c_str(),
                  m_command ? std::to_string(*m_command).c_str() : "-", m_sent, micros / 1000.0, m_outcome);
    LogLine(line);
  }

  void Start() {
    Arm(m_server.m_options.requestTimeout, "timed out waiting for the request", true);
    asio::async_read(m_socket, asio::buffer(m_request),
                     [self = shared_from_this()](std::error_code error, std::size_t) { self->OnRequest(error); });
  }

  bool WaitingForRequest() const { return m_waiting; }

  // An abortive close resets the connection and drops what the kernel still holds for it, so
  // that a client which stopped reading cannot keep megabytes of send buffer alive after us.
  // A graceful one lets the kernel deliver a reply that was written completely.
  void Close(const char* outcome, bool abortive = false) {
    if (!m_socket.is_open()) return;
    m_waiting = false;  // closed already: no longer a candidate to make room
    m_outcome = outcome;
    std::error_code ignored;
    if (abortive) m_socket.set_option(asio::socket_base::linger(true, 0), ignored);
    m_socket.close(ignored);
    m_deadline.cancel();
  }

 private:
  void Arm(std::chrono::milliseconds timeout, const char* outcome, bool abortive) {
    m_deadline.expires_after(timeout);
    m_deadline.async_wait([self = shared_from_this(), outcome, abortive](std::error_code error) {
      if (!error) self->Close(outcome, abortive);
    });
  }

  void OnRequest(std::error_code error) {
    m_waiting = false;
    if (error) {
      if (m_socket.is_open())
        Close(error == asio::error::eof ? "closed by the client before a whole request" : "receive failed", true);
      return;
    }
    m_content = m_server.m_content;
    const Answer answer = AnswerRequest(m_request, *m_content);
    m_command = answer.command;
    if (!answer.valid) return Close("refused: not a request of the protocol", true);
    // The file's last small piece should not wait for the acknowledgement of the one before.
    std::error_code ignored;
    if (m_command == CMD_GET_UPDATE_FILE) m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    Arm(m_server.m_options.transferTimeout, "timed out sending the reply", true);
    asio::async_write(m_socket, asio::buffer(answer.bytes.data(), answer.bytes.size()),
                      [self = shared_from_this()](std::error_code writeError, std::size_t sent) {
                        self->m_sent = sent;
                        self->OnReplySent(writeError);
                      });
  }

  void OnReplySent(std::error_code error) {
    if (error) {
      if (m_socket.is_open()) Close("send failed", true);
      return;
    }
    m_outcome = "ok";
    // The file's last piece is completed by our close, so it goes out right after the last byte.
    // A reply of fixed length is read exactly and the client closes first: the TIME_WAIT of
    // every connection then stays with the client instead of piling up here.
    if (m_command == CMD_GET_UPDATE_FILE) {
      std::error_code ignored;
      m_socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    }
    m_content.reset();
    // A client that keeps the connection open after its reply gets no longer than one for its request.
    Arm(m_server.m_options.requestTimeout, "ok", false);
    Drain();
  }

  void Drain() {
    m_socket.async_read_some(asio::buffer(m_discard), [self = shared_from_this()](std::error_code error, std::size_t) {
      if (!error) return self->Drain();
      self->Close(self->m_outcome);
    });
  }

  RatesServer& m_server;
  asio::ip::tcp::socket m_socket;
  asio::steady_timer m_deadline;
  Clock::time_point m_started;
  std::list<Connection*>::iterator m_place;
  std::string m_peer;
  std::array<std::uint8_t, REQUEST_BYTES> m_request{};
  std::array<std::uint8_t, 512> m_discard{};
  std::shared_ptr<const ServedContent> m_content;
  std::optional<std::int32_t> m_command;
  std::size_t m_sent = 0;
  bool m_waiting = true;
  const char* m_outcome = "ok";
};

bool RatesServer::FileStamp::operator==(const FileStamp& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

RatesServer::RatesServer(ServiceOptions options)
    : m_options(std::move(options)),
      m_io(1),
      m_signals(m_io),
      m_pollTimer(m_io),
      m_acceptPause(m_io),
      m_maxConnections(std::min(m_options.maxConnections, RaiseOpenFileLimit())) {}

RatesServer::~RatesServer() {
  Stop();
  m_io.restart();
  m_io.run();  // lets every connection end before the server they point to goes away
}

bool RatesServer::Start() {
  // Before anything is announced: a SIGHUP that follows "listening on" must reload, not kill.
  if (m_options.handleSignals) {
    m_signals.add(SIGINT);
    m_signals.add(SIGTERM);
    m_signals.add(SIGHUP);
    WaitForSignal();
  }
  if (!ReloadRates(true)) return false;
  if (m_options.offerVersion && !ReloadOffer()) return false;
  Publish();
  for (const ListenAddress& address : m_options.listen)
    if (!Listen(address)) return false;
  WatchRatesFile();
  return true;
}

void RatesServer::Run() { m_io.run(); }

void RatesServer::StopFromAnyThread() {
  asio::post(m_io, [this] { Stop(); });
}

std::uint16_t RatesServer::FirstPort() const {
  std::error_code error;
  return m_acceptors.empty() ? 0 : m_acceptors.front()->local_endpoint(error).port();
}

void RatesServer::Stop() {
  if (m_stopping) return;
  m_stopping = true;
  std::error_code ignored;
  m_signals.cancel(ignored);
  m_pollTimer.cancel();
  m_acceptPause.cancel();
  for (auto& acceptor : m_acceptors) acceptor->close(ignored);
  for (Connection* connection : m_connections) connection->Close("closed: the service stops", true);
}

bool RatesServer::Listen(const ListenAddress& address) {
  std::error_code error;
  const asio::ip::address ip = asio::ip::make_address(address.host, error);
  if (error) {
    LogLine("cannot listen on " + address.host + ": not an IP address");
    return false;
  }
  const asio::ip::tcp::endpoint endpoint(ip, address.port);
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(m_io);
  acceptor->open(endpoint.protocol(), error);
  if (!error) acceptor->set_option(asio::socket_base::reuse_address(true), error);
  // An IPv6 listener takes IPv6 only, so that "::" and "0.0.0.0" can be listened on side by side.
  if (!error && ip.is_v6()) acceptor->set_option(asio::ip::v6_only(true), error);
  if (!error) acceptor->bind(endpoint, error);
  if (!error) acceptor->listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    LogLine("cannot listen on " + Describe(endpoint) + ": " + error.message());
    return false;
  }
  LogLine("listening on " + Describe(acceptor->local_endpoint()));
  Accept(*acceptor);
  m_acceptors.push_back(std::move(acceptor));
  return true;
}

void RatesServer::Accept(asio::ip::tcp::acceptor& acceptor) {
  acceptor.async_accept([this, &acceptor](std::error_code error, asio::ip::tcp::socket socket) {
    if (m_stopping) return;
    if (!error) {
      Admit(std::move(socket));
      return Accept(acceptor);
    }
    // Out of descriptors or memory: pause rather than spin; connections that end make room.
    LogLine("accept failed: " + error.message());
    m_acceptPause.expires_after(std::chrono::milliseconds(100));
    m_acceptPause.async_wait([this, &acceptor](std::error_code waitError) {
      if (!waitError && !m_stopping) Accept(acceptor);
    });
  });
}

void RatesServer::Admit(asio::ip::tcp::socket socket) {
  std::error_code ignored;
  if (m_connections.size() >= m_maxConnections && !MakeRoom()) {
    if (!m_options.quiet) LogLine("refused a connection: all connections busy sending");
    socket.close(ignored);
    return;
  }
  std::make_shared<Connection>(*this, std::move(socket))->Start();
}

// A client that has not sent its request yet costs the least to drop: it has been given nothing.
bool RatesServer::MakeRoom() {
  for (Connection* connection : m_connections) {
    if (connection->WaitingForRequest()) {
      connection->Close("closed to make room for a newer connection", true);
      return true;
    }
  }
  return false;
}

void RatesServer::WaitForSignal() {
  m_signals.async_wait([this](std::error_code error, int signal) {
    if (error) return;
    if (signal == SIGHUP) {
      LogLine("SIGHUP: reloading");
      const bool rates = ReloadRates(true);
      const bool offer = m_options.offerVersion ? ReloadOffer() : false;
      if (rates || offer) Publish();
      return WaitForSignal();
    }
    LogLine(signal == SIGTERM ? "SIGTERM: stopping" : "SIGINT: stopping");
    Stop();
  });
}

void RatesServer::WatchRatesFile() {
  m_pollTimer.expires_after(m_options.pollInterval);
  m_pollTimer.async_wait([this](std::error_code error) {
    if (error || m_stopping) return;
    if (ReloadRates(false)) Publish();
    WatchRatesFile();
  });
}

// True when new rates were taken. A file that is missing, incomplete or invalid is logged once
// per change and leaves the rates being served as they are.
bool RatesServer::ReloadRates(bool force) {
  const std::string& path = m_options.ratesPath;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    const FileStamp missing{};
    if (force || m_ratesStamp != missing)
      LogLine("rates: cannot read " + path + (m_rates ? "; still serving " + m_ratesDate : ""));
    m_ratesStamp = missing;
    return false;
  }
  const FileStamp stamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  if (!force && m_ratesStamp && *m_ratesStamp == stamp) return false;
  m_ratesStamp = stamp;
  // A device or a runaway download is not read at all; a whole year of the bank's file is 330 kB.
  if (!S_ISREG(info.st_mode) || info.st_size > MAX_RATES_FILE_BYTES) {
    LogLine("rates: " + path + " refused (not a regular file of at most 16 MB)" +
            (m_rates ? "; still serving " + m_ratesDate : ""));
    return false;
  }

  std::ifstream stream(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  RatesFile file = ParseRatesFile(bytes);
  if (stream.bad()) {
    file = RatesFile{};
    file.error = "read error";
  }
  if (!file.ok) {
    LogLine("rates: " + path + " refused (" + file.error + ")" + (m_rates ? "; still serving " + m_ratesDate : ""));
    return false;
  }
  m_rates = file.rates;
  m_ratesDate = file.date;
  LogLine("rates: serving " + file.date + " from " + path + " (" + SourceName(file.source) + ")");
  if (!file.lacking.empty()) {
    std::string lacking;
    for (int index : file.lacking) lacking += std::string(lacking.empty() ? "" : ", ") + CurrencyCodes[index];
    LogLine("rates: the file has no rate for " + lacking + "; serving 0 for them");
  }
  return true;
}

bool RatesServer::ReloadOffer() {
  LoadedOffer loaded = LoadUpdateOffer(m_options.offerPath, *m_options.offerVersion, m_options.offerKeyPath);
  if (!loaded.offer) {
    LogLine("offer: " + loaded.error + (m_offer ? "; still offering the previous file" : ""));
    return false;
  }
  m_offer = std::move(loaded.offer);
  LogLine("offer: " + loaded.summary);
  return true;
}

void RatesServer::Publish() { m_content = MakeServedContent(*m_rates, m_offer); }
