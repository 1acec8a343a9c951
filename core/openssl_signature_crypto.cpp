// The update check's primitives from OpenSSL's libcrypto, for every platform but Windows.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <algorithm>
#include <memory>

#include "signature_crypto.h"

namespace {

template <auto Free>
struct Freer {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};
using Pkey = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX_free>>;
using Signature = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG_free>>;
struct OpenSslFree {
  void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};

Pkey PublicKeyFromPoint(const UpdateKey& key) {
  // The uncompressed encoding of the point: 0x04, X, Y.
  unsigned char point[65] = {0x04};
  std::copy(key.begin(), key.end(), point + 1);
  char group[] = "prime256v1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
                               OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
                               OSSL_PARAM_construct_end()};
  PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* pkey = nullptr;
  if (!context || EVP_PKEY_fromdata_init(context.get()) <= 0 ||
      EVP_PKEY_fromdata(context.get(), &pkey, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(params)) <= 0)
    return nullptr;
  Pkey owned(pkey);
  // fromdata takes the point as given; only a point of the curve is a key.
  PkeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, owned.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return owned;
}

}  // namespace

std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size())
    return std::nullopt;
  return digest;
}

bool VerifyP256Signature(const UpdateKey& key, const Sha256Digest& digest, const RawSignature& signature) {
  const Pkey pkey = PublicKeyFromPoint(key);
  if (!pkey) return false;
  // libcrypto verifies DER; the block holds r and s as they are.
  Signature sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
  if (derLength <= 0) return false;
  const std::unique_ptr<unsigned char, OpenSslFree> derOwned(der);
  PkeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.get(), nullptr));
  return context && EVP_PKEY_verify_init(context.get()) == 1 &&
         EVP_PKEY_verify(context.get(), der, static_cast<std::size_t>(derLength), digest.data(), digest.size()) == 1;
}
