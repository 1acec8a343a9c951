#include "update/update_signature.h"

#include <algorithm>
#include <cstring>

std::optional<SignatureBlock> FindSignatureBlock(std::span<const std::uint8_t> file) {
  if (file.size() <= SIGNATURE_BLOCK_BYTES) return std::nullopt;
  const auto block = file.last(SIGNATURE_BLOCK_BYTES);
  if (std::memcmp(block.data(), SIGNATURE_MAGIC, SIGNATURE_MAGIC_BYTES) != 0) return std::nullopt;
  SignatureBlock found;
  const auto keyId = block.subspan(SIGNATURE_MAGIC_BYTES, KEY_ID_BYTES);
  const auto signature = block.subspan(SIGNATURE_MAGIC_BYTES + KEY_ID_BYTES);
  std::copy(keyId.begin(), keyId.end(), found.keyId.begin());
  std::copy(signature.begin(), signature.end(), found.signature.begin());
  return found;
}

std::span<const std::uint8_t> SignedPart(std::span<const std::uint8_t> file) {
  if (!FindSignatureBlock(file)) return file;
  return file.first(file.size() - SIGNATURE_BLOCK_BYTES);
}

std::array<std::uint8_t, SIGNATURE_BLOCK_BYTES> EncodeSignatureBlock(const SignatureBlock& block) {
  std::array<std::uint8_t, SIGNATURE_BLOCK_BYTES> bytes{};
  std::memcpy(bytes.data(), SIGNATURE_MAGIC, SIGNATURE_MAGIC_BYTES);
  std::copy(block.keyId.begin(), block.keyId.end(), bytes.begin() + SIGNATURE_MAGIC_BYTES);
  std::copy(block.signature.begin(), block.signature.end(), bytes.begin() + SIGNATURE_MAGIC_BYTES + KEY_ID_BYTES);
  return bytes;
}

std::optional<KeyId> KeyIdOf(const UpdateKey& key) {
  const auto digest = Sha256(key);
  if (!digest) return std::nullopt;
  KeyId id;
  std::copy_n(digest->begin(), id.size(), id.begin());
  return id;
}

std::string FormatKeyId(const KeyId& id) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : id) {
    text += DIGITS[byte >> 4];
    text += DIGITS[byte & 15];
  }
  return text;
}

const char* DescribeSignatureCheck(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::Valid:
      return "good signature";
    case SignatureCheck::NoBlock:
      return "no signature block at the end of the file";
    case SignatureCheck::OtherKey:
      return "signed with another key";
    case SignatureCheck::BadSignature:
      return "the signature does not match the file";
  }
  return "unknown signature check";
}

SignatureCheck CheckUpdateSignature(std::span<const std::uint8_t> file, const UpdateKey& key) {
  const auto block = FindSignatureBlock(file);
  if (!block) return SignatureCheck::NoBlock;
  const auto keyId = KeyIdOf(key);
  if (!keyId || *keyId != block->keyId) return SignatureCheck::OtherKey;
  const auto digest = Sha256(file.first(file.size() - SIGNATURE_BLOCK_BYTES));
  if (!digest || !VerifyP256Signature(key, *digest, block->signature)) return SignatureCheck::BadSignature;
  return SignatureCheck::Valid;
}
