#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle NO_SOCKET = ~SocketHandle{0};  // Winsock's INVALID_SOCKET

struct Ipv4Address {
  std::uint32_t networkOrder = 0;
};

using Milliseconds = std::chrono::milliseconds;

inline constexpr int RECEIVE_CLOSED = 0;
inline constexpr int RECEIVE_FAILED = -1;  // an error or an abort
inline constexpr int RECEIVE_TIMED_OUT = -2;

// The few socket operations the rates client needs, over Winsock or POSIX sockets. Every wait
// has a time-out, and Abort from any thread makes a pending wait and every later call fail at
// once, so a worker blocked on the network can always be stopped.
class SocketApi {
 public:
  virtual ~SocketApi() = default;
  // The first IPv4 address of the host; nothing on failure, time-out or abort.
  virtual std::optional<Ipv4Address> Resolve(const std::string& host) = 0;
  virtual SocketHandle Open() = 0;  // a TCP socket, or NO_SOCKET
  virtual bool Connect(SocketHandle socket, Ipv4Address address, std::uint16_t port, Milliseconds timeout) = 0;
  // Bytes sent (at least 1), or -1.
  virtual int Send(SocketHandle socket, const std::uint8_t* bytes, int length) = 0;
  // Bytes received (at least 1), RECEIVE_CLOSED, RECEIVE_FAILED or RECEIVE_TIMED_OUT.
  virtual int Receive(SocketHandle socket, std::uint8_t* buffer, int length, Milliseconds timeout) = 0;
  virtual void Close(SocketHandle socket) = 0;
  virtual void Abort() = 0;
};

// A name look-up: the first IPv4 address of the host. It may block for as long as the system's
// resolver likes, and nothing can cancel it.
using HostResolver = std::optional<Ipv4Address> (*)(const std::string& host);

// The socket layer of this platform: Winsock on Windows (started by the caller), POSIX elsewhere.
// `resolve` replaces the system's look-up (for tests); either runs on a helper thread of its own
// that nobody waits for, so that an abort ends Resolve at once even while the look-up hangs.
std::unique_ptr<SocketApi> MakePlatformSockets(HostResolver resolve = nullptr);
