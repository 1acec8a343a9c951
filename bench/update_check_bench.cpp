// The signature check of a release-sized library beside the loopback download of the same
// file, in one run on the same machine: natively (libcrypto) and under Wine (CNG).
//   update_check_bench [BYTES [ROUNDS]]
// The check is meant to cost less than a tenth of the download.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#endif

#include "fake_rates_service.h"
#include "net/rates_client.h"
#include "test_signing.h"
#include "test_support.h"
#include "update/update_signature.h"

namespace {

using Clock = std::chrono::steady_clock;

// About the size of a stripped build of BrennikDll.dll.
constexpr std::size_t RELEASE_LIBRARY_BYTES = 1024 * 1024;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

template <typename Work>
double TimedMilliseconds(const char* step, Work work) {
  const auto start = Clock::now();
  if (!work()) {
    std::fprintf(stderr, "update_check_bench: the %s failed\n", step);
    std::exit(1);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : RELEASE_LIBRARY_BYTES;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
  if (bytes <= SIGNATURE_BLOCK_BYTES + 4096 || bytes > static_cast<std::size_t>(MAX_UPDATE_SIZE) || rounds < 1) {
    std::fprintf(stderr, "usage: update_check_bench [BYTES [ROUNDS]]\n");
    return 2;
  }
#ifdef _WIN32
  WSADATA winsock{};
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 1;
#endif
  const std::vector<std::uint8_t> library = SignedLibraryImage(bytes);

  FakeRatesService service;
  service.SetReply(CMD_GET_UPDATE_FILE, {library});
  TempDir dir;
  auto sockets = MakePlatformSockets();
  ClientConfig config;
  config.host = "localhost";
  config.port = service.Port();
  RatesClient client(*sockets, config);
  const std::string path = dir.File("BrennikDllUpdate.dll");
  const Request request = EncodeRequest(CMD_GET_UPDATE_FILE, 0);

  std::vector<double> download;
  std::vector<double> check;
  for (int round = 0; round < rounds; ++round) {
    // Alternating, so that both see the same state of the machine.
    download.push_back(TimedMilliseconds("download", [&] {
      const bool ok = client.Connect() && client.SendAll(request.data(), REQUEST_BYTES) &&
                      client.ReceiveToFile(path, static_cast<std::int32_t>(library.size()));
      return ok;
    }));
    // The check of the downloaded bytes; the client reads the file once for both of its checks.
    const auto file = ReadFileBytes(path);
    check.push_back(TimedMilliseconds("signature check", [&] {
      return file && CheckUpdateSignature(*file, TEST_UPDATE_KEY.point) == SignatureCheck::Valid;
    }));
  }
  const double downloadMs = Median(download);
  const double checkMs = Median(check);
  std::printf("library %zu bytes, %d rounds, medians:\n", library.size(), rounds);
  std::printf("  loopback download      %9.3f ms\n", downloadMs);
  std::printf("  signature check        %9.3f ms\n", checkMs);
  std::printf("  check / download       %9.3f (target below 0.1)\n", checkMs / downloadMs);
  return 0;
}
