#pragma once

#include <functional>
#include <memory>
#include <string>

#include <asio.hpp>

// A read-only HTTP endpoint that answers every GET of /metrics with the text that `render`
// makes, in the Prometheus text format, and closes. Anything else gets 404 or 400.
class MetricsEndpoint {
 public:
  MetricsEndpoint(asio::io_context& io, std::function<std::string()> render);
  // False, with the reason in `error`, when the address cannot be listened on.
  bool Listen(const asio::ip::tcp::endpoint& endpoint, std::string& error);
  asio::ip::tcp::endpoint LocalEndpoint() const;
  void Close();

 private:
  void Accept();

  asio::ip::tcp::acceptor m_acceptor;
  asio::steady_timer m_pause;
  std::shared_ptr<const std::function<std::string()>> m_render;
};
