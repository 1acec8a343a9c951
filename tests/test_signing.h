#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "pe_builder.h"
#include "signature_crypto.h"

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
