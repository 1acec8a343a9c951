#include "service_wire.h"

#include "service_process.h"
#include "test_signing.h"

NativeSocket Dial(std::uint16_t port) {
  const NativeSocket s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(s);
    return NATIVE_NO_SOCKET;
  }
  return s;
}

NativeSocket DialFrom(const char* source, std::uint16_t port, int receiveBuffer) {
  const NativeSocket s = socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBuffer > 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source, &local.sin_addr);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(s);
    return NATIVE_NO_SOCKET;
  }
  return s;
}

bool SendBytes(NativeSocket s, const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(s, bytes.data() + sent, bytes.size() - sent, SEND_FLAGS);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

Received ReadUntilClosed(NativeSocket s, std::chrono::milliseconds limit) {
  Received received;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::uint8_t chunk[65536];
  while (std::chrono::steady_clock::now() < deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!WaitReadable(s, static_cast<int>(left.count()) + 1)) continue;
    const ssize_t n = recv(s, chunk, sizeof chunk, 0);
    if (n <= 0) {
      received.closed = true;
      return received;
    }
    received.bytes.insert(received.bytes.end(), chunk, chunk + n);
  }
  return received;
}

std::vector<std::uint8_t> RequestBytes(std::int32_t command, std::int32_t argument) {
  const Request request = EncodeRequest(command, argument);
  return {request.begin(), request.end()};
}

std::string HttpGet(std::uint16_t port, const std::string& head) {
  const NativeSocket s = Dial(port);
  if (s == NATIVE_NO_SOCKET) return {};
  const Received reply = SendBytes(s, std::vector<std::uint8_t>(head.begin(), head.end()))
                             ? ReadUntilClosed(s, std::chrono::milliseconds(5000))
                             : Received{};
  CloseNative(s);
  return std::string(reply.bytes.begin(), reply.bytes.end());
}

double Sample(const std::string& scrape, const std::string& name) {
  const std::size_t at = scrape.find("\n" + name + " ");
  return at == std::string::npos ? -1 : std::stod(scrape.substr(at + name.size() + 2));
}

ClientConfig ConfigFor(const ServiceProcess& service, const std::string& libraryPath) {
  ClientConfig config;
  config.host = "127.0.0.1";
  config.port = service.Port();
  config.connectTimeout = Milliseconds(2000);
  config.receiveTimeout = Milliseconds(5000);
  config.libraryPath = libraryPath;
  config.updateKey = TEST_UPDATE_KEY.point;
  return config;
}

bool FetchRates(const ServiceProcess& service, RateTable& rates) {
  const auto sockets = MakePlatformSockets();
  RatesClient client(*sockets, ConfigFor(service));
  return client.FetchRates(rates);
}

Received Exchange(std::uint16_t port, std::int32_t command, std::int32_t argument, std::chrono::milliseconds limit) {
  Received received;
  const NativeSocket s = Dial(port);
  if (s == NATIVE_NO_SOCKET) return received;
  // Our half-close tells the service that nothing more is coming, so it closes after the reply.
  if (SendBytes(s, RequestBytes(command, argument)) && shutdown(s, SHUT_WR) == 0) received = ReadUntilClosed(s, limit);
  CloseNative(s);
  return received;
}
