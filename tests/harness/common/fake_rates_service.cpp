#include "fake_rates_service.h"

#include <cstring>
#include <span>

#include "base/byte_order.h"
#include "net/protocol.h"

namespace {

constexpr int POLL_MS = 10;

}  // namespace

FakeRatesService::FakeRatesService(std::uint16_t port) : m_port(port) {
  m_listener = ListenOnLoopback(m_port);
  m_acceptor = std::thread([this] { AcceptLoop(); });
}

FakeRatesService::~FakeRatesService() {
  m_stopping = true;
  m_acceptor.join();
  for (auto& connection : m_connections) connection.join();
  CloseNative(m_listener);
}

void FakeRatesService::SetReply(std::int32_t command, FakeReply reply) {
  std::lock_guard lock(m_mutex);
  m_replies[command] = std::move(reply);
}

std::vector<std::vector<std::uint8_t>> FakeRatesService::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

void FakeRatesService::AcceptLoop() {
  while (!m_stopping) {
    if (!WaitReadable(m_listener, POLL_MS)) continue;
    const NativeSocket connection = accept(m_listener, nullptr, nullptr);
    if (connection == NATIVE_NO_SOCKET) continue;
    int noDelay = 1;  // so that scripted pieces leave as separate segments
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    std::lock_guard lock(m_mutex);
    const std::size_t index = m_requests.size();
    m_requests.emplace_back();
    m_connections.emplace_back([this, connection, index] { Serve(connection, index); });
  }
}

void FakeRatesService::Serve(NativeSocket connection, std::size_t index) {
  std::uint8_t request[REQUEST_BYTES];
  int received = 0;
  while (received < REQUEST_BYTES && !m_stopping) {
    if (!WaitReadable(connection, POLL_MS)) continue;
    const int n =
        static_cast<int>(recv(connection, reinterpret_cast<char*>(request) + received, REQUEST_BYTES - received, 0));
    if (n <= 0) break;
    received += n;
    std::lock_guard lock(m_mutex);
    m_requests[index].assign(request, request + received);
  }
  FakeReply reply;
  bool scripted = false;
  if (received == REQUEST_BYTES) {
    std::lock_guard lock(m_mutex);
    const auto found = m_replies.find(LoadI32(request));
    scripted = found != m_replies.end();
    if (scripted) reply = found->second;
  }
  if (scripted && reply.heldUntil) {
    while (!*reply.heldUntil && !m_stopping) std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
  }
  if (scripted) SendReply(connection, reply);
  if (scripted && reply.hang) {
    // Silent until the client gives up and closes, or the test ends.
    char sink[256];
    while (!m_stopping) {
      if (WaitReadable(connection, POLL_MS) && recv(connection, sink, sizeof sink, 0) <= 0) break;
    }
  }
  CloseNative(connection);
}

void FakeRatesService::SendReply(NativeSocket connection, const FakeReply& reply) {
  std::vector<std::size_t> pieces = reply.pieces;
  if (pieces.empty()) pieces.push_back(reply.bytes.size());
  std::size_t offset = 0;
  for (std::size_t piece : pieces) {
    if (m_stopping) return;  // a slow drip does not outlast the test
    piece = std::min(piece, reply.bytes.size() - offset);
    std::size_t sent = 0;
    while (sent < piece) {
      const int n = static_cast<int>(send(connection, reinterpret_cast<const char*>(reply.bytes.data() + offset + sent),
                                          static_cast<int>(piece - sent), SEND_FLAGS));
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
    offset += piece;
    if (pieces.size() > 1) std::this_thread::sleep_for(reply.pieceDelay);
  }
}

std::vector<std::uint8_t> FloatBytes(float value) {
  std::vector<std::uint8_t> bytes(4);
  StoreFloat(bytes.data(), value);
  return bytes;
}

std::vector<std::uint8_t> Int32Bytes(std::int32_t value) {
  std::vector<std::uint8_t> bytes(4);
  StoreI32(bytes.data(), value);
  return bytes;
}

std::vector<std::uint8_t> RatesBytes(const RateTable& rates) {
  std::vector<std::uint8_t> bytes(RATE_TABLE_BYTES);
  EncodeRateTable(rates, std::span<std::uint8_t, RATE_TABLE_BYTES>(bytes.data(), RATE_TABLE_BYTES));
  return bytes;
}

RateTable RisingRates(float first) {
  RateTable rates{};
  for (int i = 0; i < RATE_COUNT; ++i) rates[i] = first + static_cast<float>(i);
  return rates;
}
