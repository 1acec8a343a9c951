#include "test_sockets.h"

bool WaitReadable(NativeSocket s, int milliseconds) {
#ifdef _WIN32
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &wait) > 0;
#else
  pollfd entry{s, POLLIN, 0};
  return poll(&entry, 1, milliseconds) > 0;
#endif
}

NativeSocket ListenOnLoopback(std::uint16_t& port) {
  const NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == NATIVE_NO_SOCKET) return s;
#ifndef _WIN32
  int reuse = 1;  // a fixed port must be free again at once after the previous test
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
#endif
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 64) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseNative(s);
    return NATIVE_NO_SOCKET;
  }
  port = ntohs(address.sin_port);
  return s;
}

std::uint16_t UnusedPort() {
  std::uint16_t port = 0;
  CloseNative(ListenOnLoopback(port));
  return port;
}
