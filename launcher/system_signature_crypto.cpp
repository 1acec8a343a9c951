// The update check's primitives for orvane.exe: CNG as the library has it, but bcrypt.dll is
// looked up at run time from System32. Imported the usual way it would be found beside the
// program first (it is no KnownDLL), before the launcher could restrict the search, and a
// planted copy would then decide the check.
#include <windows.h>
// clang-format off
#include <bcrypt.h>
// clang-format on

#include <cstring>

#include "base/scope_exit.h"
#include "library_search.h"
#include "signing/signature_crypto.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

struct Bcrypt {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithm;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm;
  decltype(&BCryptCreateHash) createHash;
  decltype(&BCryptHashData) hashData;
  decltype(&BCryptFinishHash) finishHash;
  decltype(&BCryptDestroyHash) destroyHash;
  decltype(&BCryptImportKeyPair) importKeyPair;
  decltype(&BCryptDestroyKey) destroyKey;
  decltype(&BCryptVerifySignature) verifySignature;
};

// Only the main thread checks updates. Loaded once and kept: the library loads it anyway.
Bcrypt g_bcrypt;
bool g_bcryptTried = false;
bool g_bcryptLoaded = false;

template <typename Function>
bool Find(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return function != nullptr;
}

const Bcrypt* SystemBcrypt() {
  if (!g_bcryptTried) {
    g_bcryptTried = true;
    const HMODULE module = LoadSystemLibrary(L"bcrypt.dll");
    Bcrypt& b = g_bcrypt;
    g_bcryptLoaded =
        module && Find(module, "BCryptOpenAlgorithmProvider", b.openAlgorithm) &&
        Find(module, "BCryptCloseAlgorithmProvider", b.closeAlgorithm) &&
        Find(module, "BCryptCreateHash", b.createHash) && Find(module, "BCryptHashData", b.hashData) &&
        Find(module, "BCryptFinishHash", b.finishHash) && Find(module, "BCryptDestroyHash", b.destroyHash) &&
        Find(module, "BCryptImportKeyPair", b.importKeyPair) && Find(module, "BCryptDestroyKey", b.destroyKey) &&
        Find(module, "BCryptVerifySignature", b.verifySignature);
  }
  return g_bcryptLoaded ? &g_bcrypt : nullptr;
}

BCRYPT_ALG_HANDLE OpenAlgorithm(const Bcrypt& b, const wchar_t* name) {
  BCRYPT_ALG_HANDLE handle = nullptr;
  return Succeeded(b.openAlgorithm(&handle, name, nullptr, 0)) ? handle : nullptr;
}

}  // namespace

std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) {
  const Bcrypt* b = SystemBcrypt();
  if (!b) return std::nullopt;
  const BCRYPT_ALG_HANDLE algorithm = OpenAlgorithm(*b, BCRYPT_SHA256_ALGORITHM);
  if (!algorithm) return std::nullopt;
  const ScopeExit closeAlgorithm([&] { b->closeAlgorithm(algorithm, 0); });
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(b->createHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return std::nullopt;
  const ScopeExit destroyHash([&] { b->destroyHash(hash); });
  // An update is far below the ULONG limit of one call (the check refuses larger files first).
  Sha256Digest digest{};
  if (bytes.size() > 0xFFFFFFFFu ||
      !Succeeded(b->hashData(hash, const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(bytes.size()), 0)) ||
      !Succeeded(b->finishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
    return std::nullopt;
  return digest;
}

bool VerifyP256Signature(const UpdateKey& key, const Sha256Digest& digest, const RawSignature& signature) {
  const Bcrypt* b = SystemBcrypt();
  if (!b) return false;
  const BCRYPT_ALG_HANDLE algorithm = OpenAlgorithm(*b, BCRYPT_ECDSA_P256_ALGORITHM);
  if (!algorithm) return false;
  const ScopeExit closeAlgorithm([&] { b->closeAlgorithm(algorithm, 0); });
  // A BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key.data(), key.size());
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (!Succeeded(b->importKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported, blob, sizeof blob, 0)))
    return false;
  const ScopeExit destroyKey([&] { b->destroyKey(imported); });
  // CNG takes the signature as r then s, exactly as the block holds it.
  return Succeeded(b->verifySignature(imported, nullptr, const_cast<PUCHAR>(digest.data()),
                                      static_cast<ULONG>(digest.size()), const_cast<PUCHAR>(signature.data()),
                                      static_cast<ULONG>(signature.size()), 0));
}
