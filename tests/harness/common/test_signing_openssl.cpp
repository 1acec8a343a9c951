#include "test_signing.h"
#include "update_signer.h"

std::optional<RawSignature> SignDigestForTest(const Sha256Digest& digest, const TestKey& key) {
  const auto signingKey = SigningKey::FromRaw(key.scalar, key.point);
  return signingKey ? signingKey->Sign(digest) : std::nullopt;
}
