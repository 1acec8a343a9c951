#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "rates/currency.h"
#include "test_sockets.h"

// How the fake service answers one command.
struct FakeReply {
  FakeReply(std::vector<std::uint8_t> replyBytes = {}, std::vector<std::size_t> replyPieces = {},
            bool replyHang = false)
      : bytes(std::move(replyBytes)), pieces(std::move(replyPieces)), hang(replyHang) {}

  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> pieces;  // sizes of the pieces the bytes go out in; empty: one piece
  bool hang = false;                // after the bytes, keep the connection open and say nothing
  std::chrono::milliseconds pieceDelay{5};
  // Set: the reply waits until the test sets the flag (or the service ends), so that a client
  // stays busy for exactly as long as the test needs it to.
  std::shared_ptr<std::atomic<bool>> heldUntil;
};

// A rates service on loopback whose every answer a test scripts: the reply bytes per command,
// the pieces they are sent in, an early close (send fewer bytes), surplus bytes, a hang, a reply
// held back until the test lets it go. It
// records the request bytes of every connection. Commands without a script are closed at once.
class FakeRatesService {
 public:
  // Port 0: one of the system's choice. A fixed port serves programs whose port is compiled in.
  explicit FakeRatesService(std::uint16_t port = 0);
  ~FakeRatesService();
  FakeRatesService(const FakeRatesService&) = delete;
  FakeRatesService& operator=(const FakeRatesService&) = delete;

  std::uint16_t Port() const { return m_port; }

  void SetReply(std::int32_t command, FakeReply reply);

  // The bytes each connection sent, in the order the connections came.
  std::vector<std::vector<std::uint8_t>> Requests() const;

 private:
  void AcceptLoop();
  void Serve(NativeSocket connection, std::size_t index);
  void SendReply(NativeSocket connection, const FakeReply& reply);

  NativeSocket m_listener = NATIVE_NO_SOCKET;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stopping{false};
  mutable std::mutex m_mutex;
  std::map<std::int32_t, FakeReply> m_replies;
  std::vector<std::vector<std::uint8_t>> m_requests;
  std::vector<std::thread> m_connections;
  std::thread m_acceptor;
};

// Little-endian bytes of values, for scripting replies.
std::vector<std::uint8_t> FloatBytes(float value);
std::vector<std::uint8_t> Int32Bytes(std::int32_t value);
// The 72 bytes of the rates command's reply.
std::vector<std::uint8_t> RatesBytes(const RateTable& rates);

// Rates that rise by one from `first`, in the order of the currencies.
RateTable RisingRates(float first);
