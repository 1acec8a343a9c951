// Arbitrary bytes as a downloaded file: the block parser and the verifier must read nothing
// outside them and accept nothing unsigned.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "update/update_signature.h"

namespace {

// The tests' key: the corpus holds nothing signed with it and a fuzzer cannot forge ECDSA, so a
// good signature here means the check accepts what it must not.
constexpr UpdateKey FUZZ_KEY = {0xb2, 0x1c, 0x5e, 0x39, 0xa0, 0xe5, 0x7c, 0x84, 0xd0, 0x28, 0xa4, 0x13, 0x3a,
                                0x37, 0x5d, 0x62, 0x7b, 0x2a, 0x02, 0xe8, 0x8a, 0x93, 0x60, 0xcb, 0x79, 0x36,
                                0x58, 0x09, 0xb7, 0xc4, 0x06, 0x9b, 0x4b, 0x67, 0x31, 0x03, 0x15, 0xf7, 0xa0,
                                0x82, 0xbe, 0xcb, 0x85, 0xb2, 0x0c, 0xb8, 0xca, 0xdc, 0x3f, 0x26, 0x8b, 0x7a,
                                0xe1, 0xe2, 0x91, 0x96, 0xac, 0xc4, 0xbf, 0x7c, 0xca, 0xc1, 0x9a, 0x8b};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  const auto block = FindSignatureBlock(file);
  if (block && SignedPart(file).size() + SIGNATURE_BLOCK_BYTES != size) std::abort();
  // With the key's own id in place the input reaches the verifier, the expensive part.
  std::vector<std::uint8_t> withId(file.begin(), file.end());
  if (block) {
    const auto id = KeyIdOf(FUZZ_KEY);
    std::copy(id->begin(), id->end(), withId.end() - SIGNATURE_BLOCK_BYTES + SIGNATURE_MAGIC_BYTES);
  }
  if (CheckUpdateSignature(withId, FUZZ_KEY) == SignatureCheck::Valid) std::abort();
  return 0;
}
