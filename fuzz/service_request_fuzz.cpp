// Arbitrary bytes on a connection to the real service, on loopback: the reply is exactly the
// right bytes for one of the four requests and nothing at all for anything else, and the
// service never crashes or stops answering.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "base/byte_order.h"
#include "net/protocol.h"
#include "rates_file.h"
#include "rates_server.h"

namespace {

const char* RATES_XML = R"(<?xml version="1.0" encoding="utf-8"?>
<DataSet xmlns="http://www.bnr.ro/xsd"><Body><Cube date="2026-01-05">
<Rate currency="EUR">4.9750</Rate><Rate currency="USD">4.5312</Rate><Rate currency="XAU">412.3456</Rate>
<Rate currency="AUD">2.9871</Rate><Rate currency="CAD">3.2874</Rate><Rate currency="CHF">5.1122</Rate>
<Rate currency="CZK">0.1978</Rate><Rate currency="DKK">0.6667</Rate><Rate currency="EGP">0.0941</Rate>
<Rate currency="GBP">5.7320</Rate><Rate currency="HUF" multiplier="100">1.2345</Rate>
<Rate currency="JPY" multiplier="100">3.0123</Rate><Rate currency="MDL">0.2654</Rate>
<Rate currency="NOK">0.4321</Rate><Rate currency="PLN">1.1623</Rate><Rate currency="SEK">0.4412</Rate>
<Rate currency="TRY">0.1345</Rate><Rate currency="XDR">6.0567</Rate></Cube></Body></DataSet>)";

struct Service {
  Service() {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("orvane-fuzz-" + std::to_string(getpid()) + ".xml")).string();
    std::ofstream(path) << RATES_XML;
    const RatesFile file = ParseRatesFile(RATES_XML);
    if (!file.ok) std::abort();
    rates.resize(RATES_REPLY_BYTES);
    EncodeRateTable(file.rates, std::span<std::uint8_t, RATE_TABLE_BYTES>(rates.data(), RATE_TABLE_BYTES));

    ServiceOptions options;
    options.listen = {{"127.0.0.1", 0}};
    options.ratesPath = path;
    options.quiet = true;
    options.handleSignals = false;
    options.requestTimeout = std::chrono::milliseconds(2000);
    server = std::make_unique<RatesServer>(options);
    if (!server->Start()) std::abort();
    port = server->FirstPort();
    loop = std::thread([this] { server->Run(); });
    std::filesystem::remove(path);  // loaded; the watch then just keeps the last good rates
  }

  std::unique_ptr<RatesServer> server;
  std::thread loop;
  std::uint16_t port = 0;
  std::vector<std::uint8_t> rates;
};

Service& TheService() {
  static Service* service = new Service;  // lives until the fuzzer exits, with its thread
  return *service;
}

std::vector<std::uint8_t> Expected(const std::uint8_t* data, std::size_t size, const Service& service) {
  if (size < REQUEST_BYTES) return {};
  const std::int32_t command = LoadI32(data), argument = LoadI32(data + 4);
  std::vector<std::uint8_t> reply(4);
  if (command == CMD_GET_RATES && argument == 1) return service.rates;
  if (command == CMD_GET_VERSION && argument == 1)
    StoreFloat(reply.data(), CLIENT_VERSION);
  else if (command == CMD_GET_UPDATE_SIZE && argument == 1)
    StoreI32(reply.data(), 0);
  else
    return {};  // command 2 without an offer: no bytes either
  return reply;
}

// libFuzzer's timer signal interrupts blocking calls; none of them may fail for that.
bool Readable(int s, int milliseconds) {
  pollfd wait{s, POLLIN, 0};
  int ready = 0;
  do ready = poll(&wait, 1, milliseconds);
  while (ready < 0 && errno == EINTR);
  return ready > 0;
}

bool ConnectThroughSignals(int s, const sockaddr_in& address) {
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
  if (errno != EINTR) return false;
  // The connect goes on in the background; wait for it to finish and ask how it went.
  pollfd wait{s, POLLOUT, 0};
  int ready = 0;
  do ready = poll(&wait, 1, 10000);
  while (ready < 0 && errno == EINTR);
  int error = 0;
  socklen_t length = sizeof error;
  return ready > 0 && getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

void SendThroughSignals(int s, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t sent = send(s, bytes, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;  // the service may close early on a bad request; that is its right
    bytes += sent;
    length -= static_cast<std::size_t>(sent);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Service& service = TheService();
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  // Thousands of connections a second for a minute would run out of ephemeral ports in the
  // kernel's TIME_WAIT entries of earlier ones and make a connect fail. So each run closes with
  // a reset (no TIME_WAIT on this side) and comes from a source address of its own in 127/8,
  // with the port chosen at connect time so that ports are shared across addresses.
  const linger reset{1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  const int late = 1;
  setsockopt(s, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &late, sizeof late);
  static std::uint32_t run = 0;
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr.s_addr = htonl(0x7F000002u + (run++ % 0xFFFFF0u));
  bind(s, reinterpret_cast<sockaddr*>(&source), sizeof source);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(service.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!ConnectThroughSignals(s, address)) {
    std::perror("connect to the service");
    std::abort();
  }
  // Sent in two pieces, so that requests split across reads are exercised too.
  const std::size_t first = size > 0 ? data[0] % (size + 1) : 0;
  if (first > 0) SendThroughSignals(s, data, first);
  if (size > first) SendThroughSignals(s, data + first, size - first);
  shutdown(s, SHUT_WR);

  std::vector<std::uint8_t> received;
  std::uint8_t chunk[256];
  for (;;) {
    if (!Readable(s, 10000)) std::abort();  // the service must answer or close, promptly
    ssize_t n = 0;
    do n = recv(s, chunk, sizeof chunk, 0);
    while (n < 0 && errno == EINTR);
    if (n <= 0) break;
    received.insert(received.end(), chunk, chunk + n);
  }
  close(s);
  if (received != Expected(data, size, service)) std::abort();
  return 0;
}
