#pragma once

// What the libcrypto side of updates shares (natively only): owners for its objects and the two
// forms of an ECDSA signature.
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "signing/signature_crypto.h"

template <auto Free>
struct OpenSslFreer {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};
using PkeyPointer = std::unique_ptr<EVP_PKEY, OpenSslFreer<EVP_PKEY_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, OpenSslFreer<EVP_PKEY_CTX_free>>;
using EcdsaSignature = std::unique_ptr<ECDSA_SIG, OpenSslFreer<ECDSA_SIG_free>>;
using BioPointer = std::unique_ptr<BIO, OpenSslFreer<BIO_free>>;
using BigNumber = std::unique_ptr<BIGNUM, OpenSslFreer<BN_free>>;

// A P-256 key from its point (X then Y), with its private scalar (big-endian) when given;
// nothing for a point that is not on the curve.
PkeyPointer MakeP256Key(const UpdateKey& point, std::optional<std::span<const std::uint8_t, 32>> scalar = std::nullopt);

// DER, as OpenSSL's tools write signatures, and r then s, as the signature block holds them.
std::optional<RawSignature> RawFromDerSignature(std::span<const std::uint8_t> der);
std::vector<std::uint8_t> DerFromRawSignature(const RawSignature& raw);
