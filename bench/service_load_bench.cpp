// Connection churn against the real orvane-rates-service on loopback, as Orvane clients make it:
// a new connection per request (connect, 8 bytes, read 72, close), many requests in flight.
// Reports the service's CPU time per 1000 requests and its peak memory, requests per second and the p50 and p99 latency
// of one request, timed as redis-benchmark times its requests (from the write on an open connection to the whole
// reply), and the p99 with the connect included.
// bench/service_vs_redis runs it beside redis-benchmark -k 0 -t ping_inline for reference.
//   ORVANE_BENCH_CLIENTS (requests in flight, default 50), ORVANE_BENCH_REQUESTS (default 50000)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <asio.hpp>

#include "bench_support.h"

#include "net/protocol.h"
#include "service_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// One request in flight at a time per client; each starts the next when it is done.
class LoadGenerator {
 public:
  LoadGenerator(std::uint16_t port, std::size_t clients, std::size_t requests)
      : m_io(1), m_endpoint(asio::ip::make_address("127.0.0.1"), port), m_clients(clients), m_left(requests) {
    m_latencies.reserve(requests);
    m_withConnect.reserve(requests);
  }

  void Run() {
    for (std::size_t i = 0; i < m_clients; ++i) Next();
    m_io.run();
  }

  const std::vector<double>& Latencies() const { return m_latencies; }
  const std::vector<double>& LatenciesWithConnect() const { return m_withConnect; }
  std::size_t Failures() const { return m_failures; }

 private:
  struct Exchange {
    explicit Exchange(asio::io_context& io) : socket(io) {}
    asio::ip::tcp::socket socket;
    std::array<std::uint8_t, RATES_REPLY_BYTES> reply{};
    Clock::time_point started = Clock::now();
    Clock::time_point written;
  };

  void Next() {
    if (m_left == 0) return;
    --m_left;
    auto exchange = std::make_shared<Exchange>(m_io);
    exchange->socket.async_connect(m_endpoint, [this, exchange](std::error_code error) {
      if (error) return Done(*exchange, false);
      exchange->written = Clock::now();
      asio::async_write(exchange->socket, asio::buffer(REQUEST), [this, exchange](std::error_code e, std::size_t) {
        if (e) return Done(*exchange, false);
        asio::async_read(exchange->socket, asio::buffer(exchange->reply),
                         [this, exchange](std::error_code readError, std::size_t) { Done(*exchange, !readError); });
      });
    });
  }

  void Done(Exchange& exchange, bool ok) {
    std::error_code ignored;
    exchange.socket.close(ignored);
    const auto now = Clock::now();
    if (ok) {
      m_latencies.push_back(std::chrono::duration<double, std::milli>(now - exchange.written).count());
      m_withConnect.push_back(std::chrono::duration<double, std::milli>(now - exchange.started).count());
    } else {
      ++m_failures;
    }
    Next();
  }

  static constexpr Request REQUEST = {1, 0, 0, 0, 1, 0, 0, 0};
  asio::io_context m_io;
  asio::ip::tcp::endpoint m_endpoint;
  std::size_t m_clients;
  std::size_t m_left;
  std::vector<double> m_latencies;
  std::vector<double> m_withConnect;
  std::size_t m_failures = 0;
};

void ServiceConnectionChurn(benchmark::State& state) {
  ServiceProcess service({"--rates", ORVANE_SAMPLE_RATES, "--quiet"});
  if (!service.Listening()) return state.SkipWithError("the service did not start");
  const std::size_t clients = FromEnvironment("ORVANE_BENCH_CLIENTS", 50);
  const std::size_t requests = FromEnvironment("ORVANE_BENCH_REQUESTS", 50000);
  LoadGenerator(service.Port(), clients, 2000).Run();  // warm-up
  for (auto _ : state) {
    LoadGenerator load(service.Port(), clients, requests);
    const double cpuBefore = CpuSeconds(service.Pid());
    const auto started = Clock::now();
    load.Run();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    // The service's own CPU time, user and system, for every 1000 requests answered.
    const double cpu = CpuSeconds(service.Pid()) - cpuBefore;
    state.counters["server_cpu_ms_per_1000"] = cpu * 1000 / static_cast<double>(load.Latencies().size()) * 1000;
    state.counters["server_peak_kib"] = static_cast<double>(MemoryKib(service.Pid(), "VmHWM"));
    state.SetIterationTime(seconds);
    if (load.Failures() > 0) state.SkipWithError("some requests failed");
    state.counters["requests_per_second"] = static_cast<double>(load.Latencies().size()) / seconds;
    state.counters["p50_ms"] = Percentile(load.Latencies(), 0.50);
    state.counters["p99_ms"] = Percentile(load.Latencies(), 0.99);
    state.counters["p99_with_connect_ms"] = Percentile(load.LatenciesWithConnect(), 0.99);
    state.counters["clients"] = static_cast<double>(clients);
  }
}
BENCHMARK(ServiceConnectionChurn)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
