#include "metrics_endpoint.h"

#include <chrono>

namespace {

using Handlers = MetricsEndpoint::Handlers;

constexpr std::size_t MAX_REQUEST_BYTES = 8192;
constexpr std::chrono::seconds REQUEST_TIMEOUT(5);

// One scrape: the request head within the time-out and the size limit, then the reply, then the close.
class Scrape : public std::enable_shared_from_this<Scrape> {
 public:
  Scrape(asio::ip::tcp::socket socket, std::shared_ptr<const Handlers> handlers, std::shared_ptr<std::size_t> open)
      : m_socket(std::move(socket)),
        m_deadline(m_socket.get_executor()),
        m_handlers(std::move(handlers)),
        m_open(std::move(open)) {
    ++*m_open;
  }
  ~Scrape() { --*m_open; }
  Scrape(const Scrape&) = delete;
  Scrape& operator=(const Scrape&) = delete;

  void Start() {
    m_deadline.expires_after(REQUEST_TIMEOUT);
    m_deadline.async_wait([self = shared_from_this()](std::error_code error) {
      std::error_code ignored;
      if (!error) self->m_socket.close(ignored);
    });
    asio::async_read_until(m_socket, asio::dynamic_buffer(m_request, MAX_REQUEST_BYTES), "\r\n\r\n",
                           [self = shared_from_this()](std::error_code error, std::size_t) { self->OnRequest(error); });
  }

 private:
  void OnRequest(std::error_code error) {
    if (error) return Finish();
    std::string status = "200 OK", body;
    if (Asks("/metrics")) {
      body = m_handlers->render();
    } else if (Asks("/health") && m_handlers->health) {
      const Health health = m_handlers->health();
      status = health.ok ? "200 OK" : "503 Service Unavailable";
      body = health.line;
    } else if (m_request.starts_with("GET ")) {
      status = "404 Not Found", body = "only /metrics and /health are here\n";
    } else {
      status = "400 Bad Request", body = "only GET is answered\n";
    }
    m_reply = "HTTP/1.1 " + status + "\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    asio::async_write(m_socket, asio::buffer(m_reply),
                      [self = shared_from_this()](std::error_code, std::size_t) { self->Finish(); });
  }

  bool Asks(const std::string& path) const {
    return m_request.starts_with("GET " + path + " ") || m_request.starts_with("GET " + path + "?");
  }

  void Finish() {
    std::error_code ignored;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
    m_deadline.cancel();
  }

  asio::ip::tcp::socket m_socket;
  asio::steady_timer m_deadline;
  std::shared_ptr<const Handlers> m_handlers;
  std::shared_ptr<std::size_t> m_open;
  std::string m_request;
  std::string m_reply;
};

}  // namespace

MetricsEndpoint::MetricsEndpoint(asio::io_context& io, std::function<std::string()> render,
                                 std::function<Health()> health)
    : m_acceptor(io),
      m_pause(io),
      m_handlers(std::make_shared<const Handlers>(Handlers{std::move(render), std::move(health)})) {}

bool MetricsEndpoint::Listen(const asio::ip::tcp::endpoint& endpoint, std::string& error) {
  std::error_code code;
  m_acceptor.open(endpoint.protocol(), code);
  if (!code) m_acceptor.set_option(asio::socket_base::reuse_address(true), code);
  if (!code) m_acceptor.bind(endpoint, code);
  if (!code) m_acceptor.listen(asio::socket_base::max_listen_connections, code);
  if (code) {
    error = code.message();
    return false;
  }
  Accept();
  return true;
}

asio::ip::tcp::endpoint MetricsEndpoint::LocalEndpoint() const {
  std::error_code ignored;
  return m_acceptor.local_endpoint(ignored);
}

void MetricsEndpoint::Close() {
  std::error_code ignored;
  m_acceptor.close(ignored);
  m_pause.cancel();
}

void MetricsEndpoint::Accept() {
  m_acceptor.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
    if (error == asio::error::operation_aborted || !m_acceptor.is_open()) return;
    if (!error) {
      if (*m_open < MAX_OPEN) {
        std::make_shared<Scrape>(std::move(socket), m_handlers, m_open)->Start();
      } else {
        ++m_refused;
        std::error_code ignored;
        socket.set_option(asio::socket_base::linger(true, 0), ignored);
        socket.close(ignored);
      }
      return Accept();
    }
    // Out of descriptors: pause rather than spin.
    m_pause.expires_after(std::chrono::milliseconds(100));
    m_pause.async_wait([this](std::error_code waitError) {
      if (!waitError && m_acceptor.is_open()) Accept();
    });
  });
}
