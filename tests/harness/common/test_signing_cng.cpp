#include <windows.h>
// clang-format off
#include <bcrypt.h>
// clang-format on

#include <cstring>

#include "test_signing.h"

std::optional<RawSignature> SignDigestForTest(const Sha256Digest& digest, const TestKey& key) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0) return std::nullopt;
  // A BCRYPT_ECCPRIVATE_BLOB: the header, X, Y, then the scalar.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 96];
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key.point.data(), 64);
  std::memcpy(blob + sizeof header + 64, key.scalar.data(), 32);
  BCRYPT_KEY_HANDLE imported = nullptr;
  RawSignature signature{};
  ULONG length = 0;
  const bool signed_ =
      BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &imported, blob, sizeof blob, 0) >= 0 &&
      BCryptSignHash(imported, nullptr, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
                     signature.data(), static_cast<ULONG>(signature.size()), &length, 0) >= 0 &&
      length == signature.size();
  if (imported) BCryptDestroyKey(imported);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!signed_) return std::nullopt;
  return signature;
}
