#pragma once

// The bits of the platform's socket API that the test side (the fake service) needs.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
inline constexpr NativeSocket NATIVE_NO_SOCKET = INVALID_SOCKET;
inline void CloseNative(NativeSocket s) { closesocket(s); }
inline constexpr int SEND_FLAGS = 0;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
inline constexpr NativeSocket NATIVE_NO_SOCKET = -1;
inline void CloseNative(NativeSocket s) { close(s); }
inline constexpr int SEND_FLAGS = MSG_NOSIGNAL;  // a closed peer must not kill the test with SIGPIPE
#endif

#include <cstdint>

// Waits up to `milliseconds` for `s` to become readable; true when it is.
bool WaitReadable(NativeSocket s, int milliseconds);

// A listening socket on 127.0.0.1 at `port`, or at one of the system's choice when it is 0.
NativeSocket ListenOnLoopback(std::uint16_t& port);

// A loopback port on which nothing listens: connections to it are refused.
std::uint16_t UnusedPort();
