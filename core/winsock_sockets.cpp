#include <winsock2.h>
#include <ws2tcpip.h>

#include "resolve_ipv4.h"
#include "socket_wait.h"

namespace {

// Sending 8 bytes never fills a socket buffer; this only bounds a peer that stops reading.
constexpr Milliseconds SEND_TIMEOUT{10000};

class WinsockSockets final : public SocketApi {
 public:
  std::optional<Ipv4Address> Resolve(const std::string& host) override { return ResolveIpv4(host); }

  SocketHandle Open() override {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return NO_SOCKET;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    return static_cast<SocketHandle>(s);
  }

  bool Connect(SocketHandle socket, Ipv4Address address, std::uint16_t port, Milliseconds timeout) override {
    if (m_aborted) return false;  // a loopback connect can succeed before any wait
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address.networkOrder;
    const SOCKET s = static_cast<SOCKET>(socket);
    if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK || Wait(s, Direction::Write, timeout) != WaitResult::Ready) return false;
    int error = 0;
    int length = sizeof error;
    return getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
  }

  int Send(SocketHandle socket, const std::uint8_t* bytes, int length) override {
    if (m_aborted) return -1;
    const SOCKET s = static_cast<SOCKET>(socket);
    for (;;) {
      const int sent = send(s, reinterpret_cast<const char*>(bytes), length, 0);
      if (sent > 0) return sent;
      if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK ||
          Wait(s, Direction::Write, SEND_TIMEOUT) != WaitResult::Ready)
        return -1;
    }
  }

  int Receive(SocketHandle socket, std::uint8_t* buffer, int length, Milliseconds timeout) override {
    if (m_aborted) return RECEIVE_FAILED;
    const SOCKET s = static_cast<SOCKET>(socket);
    for (;;) {
      const int received = recv(s, reinterpret_cast<char*>(buffer), length, 0);
      if (received >= 0) return received;
      if (WSAGetLastError() != WSAEWOULDBLOCK) return RECEIVE_FAILED;
      const WaitResult waited = Wait(s, Direction::Read, timeout);
      if (waited != WaitResult::Ready) return ReceiveResultOf(waited);
    }
  }

  void Close(SocketHandle socket) override { closesocket(static_cast<SOCKET>(socket)); }

  void Abort() override { m_aborted = true; }

 private:
  enum class Direction { Read, Write };

  WaitResult Wait(SOCKET s, Direction direction, Milliseconds timeout) {
    return WaitInSlices(m_aborted, timeout, [&](Milliseconds slice) {
      fd_set ready;
      fd_set failed;
      FD_ZERO(&ready);
      FD_ZERO(&failed);
      FD_SET(s, &ready);
      FD_SET(s, &failed);  // a failed non-blocking connect shows here, not as writable
      timeval wait{0, static_cast<long>(slice.count() * 1000)};
      const int count = direction == Direction::Read ? select(0, &ready, nullptr, &failed, &wait)
                                                     : select(0, nullptr, &ready, &failed, &wait);
      if (count == SOCKET_ERROR) return -1;
      if (FD_ISSET(s, &failed)) return -1;
      return count > 0 ? 1 : 0;
    });
  }

  std::atomic<bool> m_aborted{false};
};

}  // namespace

std::unique_ptr<SocketApi> MakePlatformSockets() { return std::make_unique<WinsockSockets>(); }
