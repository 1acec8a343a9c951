#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "net/rates_client.h"
#include "test_sockets.h"

class LoggedProcess;
class ServiceProcess;

// Talking to the service byte by byte on loopback, for tests that look at the wire.

// A connected socket to 127.0.0.1:port, or NATIVE_NO_SOCKET.
NativeSocket Dial(std::uint16_t port);
// The same from another loopback address (127.0.0.2, ...), so that one test plays several peers.
// A `receiveBuffer` other than 0 is set before the connection, to make a slow reader.
NativeSocket DialFrom(const char* source, std::uint16_t port, int receiveBuffer = 0);
bool SendBytes(NativeSocket s, const std::vector<std::uint8_t>& bytes);

struct Received {
  std::vector<std::uint8_t> bytes;
  bool closed = false;  // an orderly close or a reset, as opposed to silence until the limit
};
Received ReadUntilClosed(NativeSocket s, std::chrono::milliseconds limit);

std::vector<std::uint8_t> RequestBytes(std::int32_t command, std::int32_t argument);

// One whole exchange on a new connection: the request and our half-close, then everything until
// the service closes.
Received Exchange(std::uint16_t port, std::int32_t command, std::int32_t argument,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// The whole reply to an HTTP request `head` sent to 127.0.0.1:port; empty when none came.
std::string HttpGet(std::uint16_t port, const std::string& head);
// The value of the sample named exactly `name` (labels included) in a scrape; -1 when missing.
double Sample(const std::string& scrape, const std::string& name);

// The real client's configuration for `service`, with the test update key and, for downloads,
// the library path that an update is written beside.
ClientConfig ConfigFor(const ServiceProcess& service, const std::string& libraryPath = {});
// The rates through the real client.
bool FetchRates(const ServiceProcess& service, RateTable& rates);
