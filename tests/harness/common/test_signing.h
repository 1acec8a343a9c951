#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <optional>

#include "net/rates_record.h"
#include "pe_builder.h"
#include "signing/signature_crypto.h"

// Keys for tests only: they sign nothing outside them.
struct TestKey {
  std::array<std::uint8_t, 32> scalar;
  UpdateKey point;
};
extern const TestKey TEST_UPDATE_KEY;
extern const TestKey OTHER_TEST_KEY;

// `file` followed by a signature block by `key` over all of it, made with the platform's own
// cryptography (CNG on Windows, libcrypto elsewhere).
std::vector<std::uint8_t> SignedForTest(std::vector<std::uint8_t> file, const TestKey& key = TEST_UPDATE_KEY);

// A library of `size` bytes in all, its block included, signed with the test key.
std::vector<std::uint8_t> SignedLibraryImage(std::size_t size, PeOptions options = {});

// A signed rates record of `info` and `rates` by `key`, made with the platform's own cryptography.
RatesRecordBytes SignedRatesRecordForTest(const RatesInfo& info, const RateTable& rates,
                                          const TestKey& key = TEST_UPDATE_KEY);

// The build's rates key with its private half, for tests that play the service: the key pair
// made in the build tree, or the throwaway test key a release build was given. Nothing when the
// build has no rates key or only its public half.
const std::optional<TestKey>& BuildRatesTestKey();

// The key that tests sign rates with when they play the program's own service: the one in the file
// that ORVANE_TEST_RATES_KEY_FILE names, where the check of a release hands in the key that the
// release's program trusts (its private scalar, then its public X and Y, in hex: 64 + 128
// digits); otherwise BuildRatesTestKey(). A named file that does not hold such a key ends the test
// program: the tests would otherwise serve rates that no program takes.
const std::optional<TestKey>& ServiceRatesTestKey();
