// The update check's primitives from the system's CNG (bcrypt), which has had ECDSA P-256
// since Vista; Wine implements it through GnuTLS.
#include <windows.h>
// clang-format off
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cstring>

#include "signature_crypto.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

class Algorithm {
 public:
  explicit Algorithm(const wchar_t* name) {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&m_handle, name, nullptr, 0))) m_handle = nullptr;
  }
  ~Algorithm() {
    if (m_handle) BCryptCloseAlgorithmProvider(m_handle, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE Get() const { return m_handle; }

 private:
  BCRYPT_ALG_HANDLE m_handle = nullptr;
};

class Hash {
 public:
  explicit Hash(const Algorithm& algorithm) {
    if (!algorithm.Get() || !Succeeded(BCryptCreateHash(algorithm.Get(), &m_handle, nullptr, 0, nullptr, 0, 0)))
      m_handle = nullptr;
  }
  ~Hash() {
    if (m_handle) BCryptDestroyHash(m_handle);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  BCRYPT_HASH_HANDLE Get() const { return m_handle; }

 private:
  BCRYPT_HASH_HANDLE m_handle = nullptr;
};

class Key {
 public:
  Key(const Algorithm& algorithm, const UpdateKey& key) {
    // A BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::copy(key.begin(), key.end(), blob + sizeof header);
    if (!algorithm.Get() || !Succeeded(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &m_handle,
                                                           blob, sizeof blob, 0)))
      m_handle = nullptr;
  }
  ~Key() {
    if (m_handle) BCryptDestroyKey(m_handle);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  BCRYPT_KEY_HANDLE Get() const { return m_handle; }

 private:
  BCRYPT_KEY_HANDLE m_handle = nullptr;
};

}  // namespace

std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) {
  const Algorithm algorithm(BCRYPT_SHA256_ALGORITHM);
  const Hash hash(algorithm);
  if (!hash.Get()) return std::nullopt;
  // BCryptHashData takes a ULONG count: large inputs go in pieces.
  constexpr std::size_t PIECE = 1u << 30;
  for (std::size_t at = 0; at < bytes.size(); at += PIECE) {
    const std::size_t length = std::min(PIECE, bytes.size() - at);
    if (!Succeeded(BCryptHashData(hash.Get(), const_cast<PUCHAR>(bytes.data() + at), static_cast<ULONG>(length), 0)))
      return std::nullopt;
  }
  Sha256Digest digest{};
  if (!Succeeded(BCryptFinishHash(hash.Get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
    return std::nullopt;
  return digest;
}

bool VerifyP256Signature(const UpdateKey& key, const Sha256Digest& digest, const RawSignature& signature) {
  const Algorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  const Key imported(algorithm, key);
  if (!imported.Get()) return false;
  // CNG takes the signature as r then s, exactly as the block holds it.
  return Succeeded(BCryptVerifySignature(imported.Get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                         static_cast<ULONG>(digest.size()), const_cast<PUCHAR>(signature.data()),
                                         static_cast<ULONG>(signature.size()), 0));
}
