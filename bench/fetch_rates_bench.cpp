// One FetchRates round trip against the fake service on loopback, beside the bare minimum the
// same socket layer can do for one request: connect, send 8 bytes, receive 72, close.
#include <benchmark/benchmark.h>

#include <vector>

#include "fake_rates_service.h"
#include "net/rates_client.h"

namespace {

std::vector<std::uint8_t> Reply() { return std::vector<std::uint8_t>(RATES_REPLY_BYTES, 0x40); }

void FetchRatesRoundTrip(benchmark::State& state) {
  FakeRatesService service;
  service.SetReply(CMD_GET_RATES, {Reply()});
  auto sockets = MakePlatformSockets();
  ClientConfig config;
  config.host = "localhost";
  config.port = service.Port();
  RatesClient client(*sockets, config);
  for (auto _ : state) {
    RateTable rates{};
    if (!client.FetchRates(rates)) state.SkipWithError("fetch failed");
    benchmark::DoNotOptimize(rates);
  }
}

void BareSocketRoundTrip(benchmark::State& state) {
  FakeRatesService service;
  service.SetReply(CMD_GET_RATES, {Reply()});
  auto sockets = MakePlatformSockets();
  const auto address = sockets->Resolve("localhost");
  const Request request = EncodeRequest(CMD_GET_RATES, 1);
  for (auto _ : state) {
    std::uint8_t reply[RATES_REPLY_BYTES];
    const SocketHandle socket = sockets->Open();
    bool ok = sockets->Connect(socket, *address, service.Port(), Milliseconds(10000)) &&
              sockets->Send(socket, request.data(), REQUEST_BYTES) == REQUEST_BYTES;
    int received = 0;
    while (ok && received < RATES_REPLY_BYTES) {
      const int n = sockets->Receive(socket, reply + received, RATES_REPLY_BYTES - received, Milliseconds(30000));
      ok = n > 0;
      received += n;
    }
    sockets->Close(socket);
    if (!ok) state.SkipWithError("round trip failed");
    benchmark::DoNotOptimize(reply);
  }
}

BENCHMARK(BareSocketRoundTrip)->UseRealTime()->MinTime(2.0);
BENCHMARK(FetchRatesRoundTrip)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
