#include "update_signer.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "update/library_contract.h"
#include "update/pe_image.h"

namespace {

// The point of a P-256 key; nothing for a key of another kind or curve.
std::optional<UpdateKey> P256Point(EVP_PKEY* key) {
  char group[64] = {};
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC ||
      EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr) != 1 ||
      std::strcmp(group, "prime256v1") != 0)
    return std::nullopt;
  unsigned char point[65] = {};
  std::size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point, sizeof point, &length) != 1 ||
      length != sizeof point || point[0] != 0x04)
    return std::nullopt;
  UpdateKey xy;
  std::copy(point + 1, point + sizeof point, xy.begin());
  return xy;
}

BioPointer OpenForReading(const std::string& path, std::string& error) {
  BioPointer bio(BIO_new_file(path.c_str(), "rb"));
  if (!bio) error = "cannot open " + path;
  return bio;
}

}  // namespace

std::optional<SigningKey> SigningKey::ReadPem(const std::string& path, std::string& error) {
  const BioPointer bio = OpenForReading(path, error);
  if (!bio) return std::nullopt;
  PkeyPointer key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  const auto point = key ? P256Point(key.get()) : std::nullopt;
  if (!point) {
    error = path + " is not a P-256 private key in PEM";
    return std::nullopt;
  }
  return SigningKey(std::move(key), *point);
}

std::optional<SigningKey> SigningKey::FromRaw(std::span<const std::uint8_t, 32> scalar, const UpdateKey& point) {
  PkeyPointer key = MakeP256Key(point, scalar);
  if (!key) return std::nullopt;
  return SigningKey(std::move(key), point);
}

std::optional<RawSignature> SigningKey::Sign(const Sha256Digest& digest) const {
  PkeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, m_key.get(), nullptr));
  std::size_t length = 0;
  if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
      EVP_PKEY_sign(context.get(), nullptr, &length, digest.data(), digest.size()) != 1)
    return std::nullopt;
  std::vector<std::uint8_t> der(length);
  if (EVP_PKEY_sign(context.get(), der.data(), &length, digest.data(), digest.size()) != 1) return std::nullopt;
  der.resize(length);
  return RawFromDerSignature(der);
}

bool GenerateKeyPair(const std::string& privatePath, const std::string& publicPath, std::string& error) {
  PkeyPointer key(EVP_EC_gen("P-256"));
  if (!key) {
    error = "cannot make a P-256 key";
    return false;
  }
  // Created for its owner only, and never over an existing key: that may be the release key.
  const int descriptor = ::open(privatePath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (descriptor < 0) {
    error = "cannot create " + privatePath + ": " + std::strerror(errno);
    return false;
  }
  std::FILE* file = ::fdopen(descriptor, "wb");
  if (!file) ::close(descriptor);
  const bool privateWritten = file && PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  const bool privateClosed = file && std::fclose(file) == 0;
  if (!privateWritten || !privateClosed) {
    error = "cannot write " + privatePath;
    std::remove(privatePath.c_str());
    return false;
  }
  BioPointer bio(BIO_new_file(publicPath.c_str(), "wb"));
  if (!bio || PEM_write_bio_PUBKEY(bio.get(), key.get()) != 1 || BIO_flush(bio.get()) != 1) {
    error = "cannot write " + publicPath;
    return false;
  }
  return true;
}

std::optional<UpdateKey> ReadPublicKeyPem(const std::string& path, std::string& error) {
  const BioPointer bio = OpenForReading(path, error);
  if (!bio) return std::nullopt;
  const PkeyPointer key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  const auto point = key ? P256Point(key.get()) : std::nullopt;
  if (!point) error = path + " is not a P-256 public key in PEM";
  return point;
}

std::optional<std::vector<std::uint8_t>> AppendSignatureBlock(std::span<const std::uint8_t> file,
                                                              const SigningKey& key) {
  const auto digest = Sha256(file);
  const auto keyId = KeyIdOf(key.PublicKey());
  const auto signature = digest ? key.Sign(*digest) : std::nullopt;
  if (!keyId || !signature) return std::nullopt;
  std::vector<std::uint8_t> signedFile(file.begin(), file.end());
  const auto block = EncodeSignatureBlock({*keyId, *signature});
  signedFile.insert(signedFile.end(), block.begin(), block.end());
  return signedFile;
}

std::optional<std::vector<std::uint8_t>> SignLibrary(std::span<const std::uint8_t> file, const SigningKey& key,
                                                     std::string& error) {
  const auto library = SignedPart(file);
  if (!IsWindowsLibraryWithExport(library, LIBRARY_EXPORT)) {
    error = std::string("not a complete Windows library exporting ") + LIBRARY_EXPORT;
    return std::nullopt;
  }
  auto signedFile = AppendSignatureBlock(library, key);
  if (!signedFile) error = "cannot sign";
  return signedFile;
}

bool WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error) {
  const std::string temporary = path + ".signing";
  {
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    stream.close();
    if (!stream) {
      std::remove(temporary.c_str());
      error = "cannot write " + temporary;
      return false;
    }
  }
  std::error_code renameError;
  std::filesystem::rename(temporary, path, renameError);
  if (renameError) {
    std::remove(temporary.c_str());
    error = "cannot write " + path + ": " + renameError.message();
    return false;
  }
  return true;
}
