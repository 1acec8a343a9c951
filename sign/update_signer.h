#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "signing/openssl_support.h"
#include "update/update_signature.h"

// The signing side of updates, on OpenSSL's libcrypto: key files, signatures and signed files.
// Every failure comes with a one-line reason in `error`.

// A P-256 private key.
class SigningKey {
 public:
  static std::optional<SigningKey> ReadPem(const std::string& path, std::string& error);
  // A key from its scalar and its point, as tests keep theirs.
  static std::optional<SigningKey> FromRaw(std::span<const std::uint8_t, 32> scalar, const UpdateKey& point);

  const UpdateKey& PublicKey() const { return m_public; }
  std::optional<RawSignature> Sign(const Sha256Digest& digest) const;

 private:
  SigningKey(PkeyPointer key, const UpdateKey& point) : m_key(std::move(key)), m_public(point) {}
  PkeyPointer m_key;
  UpdateKey m_public{};
};

// A new key pair in two PEM files; the private one readable by its owner only. An existing
// private key file is never overwritten.
bool GenerateKeyPair(const std::string& privatePath, const std::string& publicPath, std::string& error);

std::optional<UpdateKey> ReadPublicKeyPem(const std::string& path, std::string& error);

// `file` with its signature block, an existing one replaced. Only a complete Windows library
// that exports the program's entry is signed.
std::optional<std::vector<std::uint8_t>> SignLibrary(std::span<const std::uint8_t> file, const SigningKey& key,
                                                     std::string& error);

// `file` with a block by `key` over every byte of it, whatever they are.
std::optional<std::vector<std::uint8_t>> AppendSignatureBlock(std::span<const std::uint8_t> file,
                                                              const SigningKey& key);

// Through a temporary file and a rename, so that OUT is never left half written.
bool WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error);
