// The update storm as clients make it: many clients at once, each on a new connection asking for
// the whole library, reading it to the end and closing, again and again for a bounded time.
// Speaks either the service's protocol (command 2) or HTTP/1.1 (GET, Connection: close), so that
// bench/service_vs_nginx can put the service beside nginx with the same load. Reports the bytes
// per second delivered, the p50 and p99 completion time and how many transfers were not whole.
//   ORVANE_STORM_PORT (required), ORVANE_STORM_HTTP_PATH (HTTP when set), ORVANE_STORM_BYTES (the
//   file's size, to check every transfer), ORVANE_STORM_CLIENTS (default 1000),
//   ORVANE_STORM_SECONDS (default 10)
// storm_bench --write-library PATH SIZE writes a signed PE-shaped library of SIZE bytes to serve.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <asio.hpp>

#include "bench_support.h"

#include "net/protocol.h"
#include "pe_builder.h"
#include "test_signing.h"
#include "test_support.h"
#include "update/update_signature.h"

namespace {

using Clock = std::chrono::steady_clock;

class Storm {
 public:
  Storm(std::uint16_t port, std::string request, bool http, std::size_t expected, std::size_t clients,
        Clock::duration length)
      : m_io(1),
        m_endpoint(asio::ip::make_address("127.0.0.1"), port),
        m_request(std::move(request)),
        m_http(http),
        m_expected(expected),
        m_clients(clients),
        m_length(length) {}

  void Run() {
    m_started = Clock::now();
    for (std::size_t i = 0; i < m_clients; ++i) Next();
    m_io.run();
    m_elapsed = Clock::now() - m_started;
  }

  std::vector<double> times;  // completion time of each whole transfer, ms
  std::size_t failures = 0;
  std::size_t bytes = 0;  // file bytes delivered in whole transfers
  double Seconds() const { return std::chrono::duration<double>(m_elapsed).count(); }

 private:
  struct Transfer {
    explicit Transfer(asio::io_context& io) : socket(io) {}
    asio::ip::tcp::socket socket;
    Clock::time_point started = Clock::now();
    std::array<char, 4096> head{};  // the first piece, for the HTTP header
    bool first = true;
    std::size_t body = 0;
  };

  void Next() {
    if (Clock::now() - m_started >= m_length) return;
    auto transfer = std::make_shared<Transfer>(m_io);
    transfer->socket.async_connect(m_endpoint, [this, transfer](std::error_code error) {
      if (error) return Done(*transfer, false);
      asio::async_write(transfer->socket, asio::buffer(m_request), [this, transfer](std::error_code e, std::size_t) {
        if (e) return Done(*transfer, false);
        Read(transfer);
      });
    });
  }

  // After the first piece, every transfer reads into one shared buffer: the bytes are counted, not kept.
  void Read(const std::shared_ptr<Transfer>& transfer) {
    const asio::mutable_buffer into = transfer->first ? asio::buffer(transfer->head) : asio::buffer(m_sink);
    transfer->socket.async_read_some(into, [this, transfer](std::error_code error, std::size_t count) {
      if (error) return Done(*transfer, error == asio::error::eof);
      std::size_t body = count;
      if (transfer->first && m_http) {
        const char* end = std::search(transfer->head.data(), transfer->head.data() + count, "\r\n\r\n", "\r\n\r\n" + 4);
        if (end == transfer->head.data() + count) return Done(*transfer, false);
        body = count - static_cast<std::size_t>(end + 4 - transfer->head.data());
      }
      transfer->first = false;
      transfer->body += body;
      Read(transfer);
    });
  }

  void Done(Transfer& transfer, bool ended) {
    std::error_code ignored;
    transfer.socket.close(ignored);
    if (ended && transfer.body == m_expected) {
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - transfer.started).count());
      bytes += transfer.body;
    } else {
      ++failures;
    }
    Next();
  }

  asio::io_context m_io;
  asio::ip::tcp::endpoint m_endpoint;
  std::string m_request;
  bool m_http;
  std::size_t m_expected;
  std::size_t m_clients;
  Clock::duration m_length;
  Clock::time_point m_started;
  Clock::duration m_elapsed{};
  std::array<char, 1 << 18> m_sink{};
};

void UpdateStorm(benchmark::State& state) {
  const auto port = static_cast<std::uint16_t>(FromEnvironment("ORVANE_STORM_PORT", 0));
  if (port == 0) return state.SkipWithError("ORVANE_STORM_PORT is not set");
  const char* path = std::getenv("ORVANE_STORM_HTTP_PATH");
  const bool http = path != nullptr;
  const Request command2 = EncodeRequest(CMD_GET_UPDATE_FILE, 0);
  const std::string request =
      http ? "GET " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
           : std::string(command2.begin(), command2.end());
  const std::size_t clients = FromEnvironment("ORVANE_STORM_CLIENTS", 1000);
  const auto seconds = std::chrono::seconds(FromEnvironment("ORVANE_STORM_SECONDS", 10));
  for (auto _ : state) {
    Storm storm(port, request, http, FromEnvironment("ORVANE_STORM_BYTES", 0), clients, seconds);
    storm.Run();
    state.SetIterationTime(storm.Seconds());
    state.counters["bytes_per_second"] = static_cast<double>(storm.bytes) / storm.Seconds();
    state.counters["transfers"] = static_cast<double>(storm.times.size());
    state.counters["failures"] = static_cast<double>(storm.failures);
    state.counters["p50_ms"] = Percentile(storm.times, 0.50);
    state.counters["p99_ms"] = Percentile(storm.times, 0.99);
    state.counters["clients"] = static_cast<double>(clients);
  }
}
BENCHMARK(UpdateStorm)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--write-library") == 0) {
    // Signed with the tests' key, as the service wants every offer signed.
    const std::size_t size = std::max<std::size_t>(std::atoll(argv[3]), 16384);
    std::vector<std::uint8_t> image = BuildLibraryImage({.size = size - SIGNATURE_BLOCK_BYTES});
    for (std::size_t i = 8192; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + (i >> 11));
    WriteFileBytes(argv[2], SignedForTest(image));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
