#include "test_signing.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "signing/rates_key.h"
#include "signing/update_key.h"
#include "store/file_io.h"
#include "update/update_signature.h"

#ifndef ORVANE_RATES_SIGNING_SCALAR_HEX
#define ORVANE_RATES_SIGNING_SCALAR_HEX ""
#endif

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> FromHex(std::string_view hex) {
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N; ++i)
    bytes[i] = static_cast<std::uint8_t>(std::strtoul(std::string(hex.substr(2 * i, 2)).c_str(), nullptr, 16));
  return bytes;
}

TestKey MakeKey(std::string_view scalar, std::string_view point) {
  return {FromHex<32>(scalar), *ParseUpdateKeyHex(point)};
}

}  // namespace

const TestKey TEST_UPDATE_KEY = MakeKey("6485a60dd810638a0bc1e9357e13bfdc82ed4764e85aaf30073832a010fab9d4",
                                        "b21c5e39a0e57c84d028a4133a375d627b2a02e88a9360cb79365809b7c4069b"
                                        "4b67310315f7a082becb85b20cb8cadc3f268b7ae1e29196acc4bf7ccac19a8b");
const TestKey OTHER_TEST_KEY = MakeKey("303625099c0052d423e368169e324c13bab908987b66f57573890f41d31c5a68",
                                       "e9c230c32438dbf3f31a3ad25a90075e80a92d35b824598bcd83a17b160b3a1f"
                                       "9fbc88419b484b8ed776bfd905026ed9928057961f62accd6c8f9cdf136a4a27");

// The platform's signing half, beside the verifying half in core/.
std::optional<RawSignature> SignDigestForTest(const Sha256Digest& digest, const TestKey& key);

std::vector<std::uint8_t> SignedForTest(std::vector<std::uint8_t> file, const TestKey& key) {
  const auto digest = Sha256(file);
  const auto signature = digest ? SignDigestForTest(*digest, key) : std::nullopt;
  const auto keyId = KeyIdOf(key.point);
  if (!signature || !keyId) std::abort();  // a test key that cannot sign is a broken test build
  const auto block = EncodeSignatureBlock({*keyId, *signature});
  file.insert(file.end(), block.begin(), block.end());
  return file;
}

std::vector<std::uint8_t> SignedLibraryImage(std::size_t size, PeOptions options) {
  options.size = size - SIGNATURE_BLOCK_BYTES;
  return SignedForTest(BuildLibraryImage(options));
}

RatesRecordBytes SignedRatesRecordForTest(const RatesInfo& info, const RateTable& rates, const TestKey& key) {
  RatesRecord record;
  record.info = info;
  record.rates = rates;
  const auto keyId = KeyIdOf(key.point);
  if (!keyId) std::abort();
  record.keyId = *keyId;
  const auto digest = Sha256(EncodeSignedPart(info, rates, record.keyId));
  const auto signature = digest ? SignDigestForTest(*digest, key) : std::nullopt;
  if (!signature) std::abort();  // a test key that cannot sign is a broken test build
  record.signature = *signature;
  return EncodeRatesRecord(record);
}

const std::optional<TestKey>& BuildRatesTestKey() {
  static const std::optional<TestKey> key = []() -> std::optional<TestKey> {
    const std::string_view scalar = ORVANE_RATES_SIGNING_SCALAR_HEX;
    if (!BuildRatesKey() || scalar.size() != 64) return std::nullopt;
    return TestKey{FromHex<32>(scalar), *BuildRatesKey()};
  }();
  return key;
}

const std::optional<TestKey>& ServiceRatesTestKey() {
  static const std::optional<TestKey> key = []() -> std::optional<TestKey> {
    const char* path = std::getenv("ORVANE_TEST_RATES_KEY_FILE");
    if (path == nullptr || *path == '\0') return BuildRatesTestKey();
    const auto bytes = ReadWholeFile(path, 1024);
    std::string hex;
    bool onlyHex = bytes.has_value();
    if (bytes)
      for (std::uint8_t byte : *bytes) {
        if (std::isxdigit(byte))
          hex += static_cast<char>(byte);
        else
          onlyHex = onlyHex && std::isspace(byte);
      }
    const auto point =
        onlyHex && hex.size() == 64 + 128 ? ParseUpdateKeyHex(std::string_view(hex).substr(64)) : std::nullopt;
    if (!point) {
      std::fprintf(stderr, "ORVANE_TEST_RATES_KEY_FILE: %s holds no rates key (64 + 128 hex digits)\n", path);
      std::abort();
    }
    return TestKey{FromHex<32>(hex), *point};
  }();
  return key;
}
