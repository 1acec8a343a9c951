#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "rates_client.h"
#include "test_sockets.h"

class LoggedProcess;
class ServiceProcess;

// Talking to the service byte by byte on loopback, for tests that look at the wire.

// A connected socket to 127.0.0.1:port, or NATIVE_NO_SOCKET.
NativeSocket Dial(std::uint16_t port);
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

ClientConfig ConfigFor(const ServiceProcess& service);
// The rates through the real client.
bool FetchRates(const ServiceProcess& service, RateTable& rates);

// The port number that follows `text` in the first log line with it; 0 when none came.
std::uint16_t PortAfter(const LoggedProcess& process, const std::string& text);

// One HTTP exchange: the request head sent, everything until the close read back.
std::string HttpGet(std::uint16_t port, const std::string& head);
// The value of the sample named exactly `name` (labels included) in a scrape; -1 when missing.
double Sample(const std::string& scrape, const std::string& name);
