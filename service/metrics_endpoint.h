#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <asio.hpp>

#include "rates_health.h"

// A read-only HTTP endpoint that answers every GET of /metrics with the text that `render`
// makes, in the Prometheus text format, and GET of /health with 200 or 503 and the line that
// `health` gives, then closes. Anything else gets 404 or 400. It serves a few requests at once
// at most and closes any more at once, so that a flood of scrapes cannot take the descriptors
// that the rates connections need.
class MetricsEndpoint {
 public:
  static constexpr std::size_t MAX_OPEN = 16;
  struct Handlers {
    std::function<std::string()> render;
    std::function<Health()> health;
  };

  MetricsEndpoint(asio::io_context& io, std::function<std::string()> render, std::function<Health()> health = {});
  // False, with the reason in `error`, when the address cannot be listened on.
  bool Listen(const asio::ip::tcp::endpoint& endpoint, std::string& error);
  asio::ip::tcp::endpoint LocalEndpoint() const;
  void Close();
  // Requests closed unanswered because MAX_OPEN were being served.
  std::uint64_t Refused() const { return m_refused; }

 private:
  void Accept();

  asio::ip::tcp::acceptor m_acceptor;
  asio::steady_timer m_pause;
  std::shared_ptr<const Handlers> m_handlers;
  // Shared with the requests, which count themselves out when they end.
  std::shared_ptr<std::size_t> m_open = std::make_shared<std::size_t>(0);
  std::uint64_t m_refused = 0;
};
