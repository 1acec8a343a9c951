#pragma once

// Included by each socket layer after its platform's headers: getaddrinfo is the same call
// over Winsock and POSIX.
#include <optional>
#include <string>

#include "net/socket_api.h"

// A look-up that takes longer than this is as good as failed; the helper that runs it is left
// to finish on its own.
inline constexpr Milliseconds RESOLVE_TIMEOUT{10000};

// The first IPv4 address of the host; the others are never tried.
inline std::optional<Ipv4Address> ResolveIpv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
  const Ipv4Address address{reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr};
  freeaddrinfo(found);
  return address;
}
