// The update check's primitives from OpenSSL's libcrypto, for every platform but Windows.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <algorithm>
#include <memory>

#include "signing/openssl_support.h"

PkeyPointer MakeP256Key(const UpdateKey& point, std::optional<std::span<const std::uint8_t, 32>> scalar) {
  // The uncompressed encoding of the point: 0x04, X, Y.
  unsigned char encoded[65] = {0x04};
  std::copy(point.begin(), point.end(), encoded + 1);
  char group[] = "prime256v1";
  // OSSL_PARAM wants the scalar in native byte order.
  unsigned char native[32] = {};
  if (scalar) {
    const BigNumber secret(BN_bin2bn(scalar->data(), static_cast<int>(scalar->size()), nullptr));
    if (!secret || BN_bn2nativepad(secret.get(), native, sizeof native) != sizeof native) return nullptr;
  }
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded),
      scalar ? OSSL_PARAM_construct_BN(OSSL_PKEY_PARAM_PRIV_KEY, native, sizeof native) : OSSL_PARAM_construct_end(),
      OSSL_PARAM_construct_end()};
  PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* pkey = nullptr;
  if (!context || EVP_PKEY_fromdata_init(context.get()) <= 0 ||
      EVP_PKEY_fromdata(context.get(), &pkey, scalar ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                        const_cast<OSSL_PARAM*>(params)) <= 0)
    return nullptr;
  PkeyPointer owned(pkey);
  // fromdata takes the point as given; only a point of the curve is a key.
  PkeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, owned.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return owned;
}

std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size())
    return std::nullopt;
  return digest;
}

bool VerifyP256Signature(const UpdateKey& key, const Sha256Digest& digest, const RawSignature& signature) {
  const PkeyPointer pkey = MakeP256Key(key);
  if (!pkey) return false;
  // libcrypto verifies DER; the block holds r and s as they are.
  const std::vector<std::uint8_t> der = DerFromRawSignature(signature);
  if (der.empty()) return false;
  PkeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.get(), nullptr));
  return context && EVP_PKEY_verify_init(context.get()) == 1 &&
         EVP_PKEY_verify(context.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
}

std::optional<RawSignature> RawFromDerSignature(std::span<const std::uint8_t> der) {
  const unsigned char* at = der.data();
  const EcdsaSignature signature(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(der.size())));
  if (!signature || at != der.data() + der.size()) return std::nullopt;
  RawSignature raw{};
  if (BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), raw.data(), 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), raw.data() + 32, 32) != 32)
    return std::nullopt;
  return raw;
}

std::vector<std::uint8_t> DerFromRawSignature(const RawSignature& raw) {
  EcdsaSignature signature(ECDSA_SIG_new());
  BigNumber r(BN_bin2bn(raw.data(), 32, nullptr));
  BigNumber s(BN_bin2bn(raw.data() + 32, 32, nullptr));
  if (!signature || !r || !s || ECDSA_SIG_set0(signature.get(), r.get(), s.get()) != 1) return {};
  r.release();  // the signature owns them now
  s.release();
  unsigned char* der = nullptr;
  const int length = i2d_ECDSA_SIG(signature.get(), &der);
  if (length <= 0) return {};
  std::vector<std::uint8_t> bytes(der, der + length);
  OPENSSL_free(der);
  return bytes;
}
