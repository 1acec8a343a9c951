// The update check's primitives from the system's CNG (bcrypt), which has had ECDSA P-256
// since Vista; Wine implements it through GnuTLS.
#include <windows.h>
// clang-format off
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "signing/signature_crypto.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// One owner per CNG handle kind, each closed by its own function.
struct CloseAlgorithm {
  void operator()(BCRYPT_ALG_HANDLE handle) const { BCryptCloseAlgorithmProvider(handle, 0); }
};
struct DestroyHash {
  void operator()(BCRYPT_HASH_HANDLE handle) const { BCryptDestroyHash(handle); }
};
struct DestroyKey {
  void operator()(BCRYPT_KEY_HANDLE handle) const { BCryptDestroyKey(handle); }
};
using Algorithm = std::unique_ptr<void, CloseAlgorithm>;
using Hash = std::unique_ptr<void, DestroyHash>;
using Key = std::unique_ptr<void, DestroyKey>;

Algorithm OpenAlgorithm(const wchar_t* name) {
  BCRYPT_ALG_HANDLE handle = nullptr;
  return Algorithm(Succeeded(BCryptOpenAlgorithmProvider(&handle, name, nullptr, 0)) ? handle : nullptr);
}

Hash CreateHash(const Algorithm& algorithm) {
  BCRYPT_HASH_HANDLE handle = nullptr;
  return Hash(algorithm && Succeeded(BCryptCreateHash(algorithm.get(), &handle, nullptr, 0, nullptr, 0, 0)) ? handle
                                                                                                            : nullptr);
}

Key ImportPublicKey(const Algorithm& algorithm, const UpdateKey& key) {
  // A BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob, &header, sizeof header);
  std::copy(key.begin(), key.end(), blob + sizeof header);
  BCRYPT_KEY_HANDLE handle = nullptr;
  return Key(algorithm && Succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, blob,
                                                        sizeof blob, 0))
                 ? handle
                 : nullptr);
}

}  // namespace

std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) {
  // The provider must outlive what is made from it.
  const Algorithm algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
  const Hash hash = CreateHash(algorithm);
  if (!hash) return std::nullopt;
  // BCryptHashData takes a ULONG count: large inputs go in pieces.
  constexpr std::size_t PIECE = 1u << 30;
  for (std::size_t at = 0; at < bytes.size(); at += PIECE) {
    const std::size_t length = std::min(PIECE, bytes.size() - at);
    if (!Succeeded(BCryptHashData(hash.get(), const_cast<PUCHAR>(bytes.data() + at), static_cast<ULONG>(length), 0)))
      return std::nullopt;
  }
  Sha256Digest digest{};
  if (!Succeeded(BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
    return std::nullopt;
  return digest;
}

bool VerifyP256Signature(const UpdateKey& key, const Sha256Digest& digest, const RawSignature& signature) {
  const Algorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  const Key imported = ImportPublicKey(algorithm, key);
  if (!imported) return false;
  // CNG takes the signature as r then s, exactly as the block holds it.
  return Succeeded(BCryptVerifySignature(imported.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                         static_cast<ULONG>(digest.size()), const_cast<PUCHAR>(signature.data()),
                                         static_cast<ULONG>(signature.size()), 0));
}
