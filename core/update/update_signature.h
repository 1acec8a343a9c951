#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "signing/signature_crypto.h"

// A signed library is the library's bytes followed by this block, the last 80 bytes of the
// file: the magic, the key id, and the signature over the SHA-256 of everything before the
// block. The Windows loader ignores bytes after the last section, so a signed library loads as
// it is, and the wire protocol carries it unchanged.
inline constexpr char SIGNATURE_MAGIC[] = "ORVSIG01";
inline constexpr std::size_t SIGNATURE_MAGIC_BYTES = 8;
inline constexpr std::size_t KEY_ID_BYTES = 8;
inline constexpr std::size_t SIGNATURE_BLOCK_BYTES = SIGNATURE_MAGIC_BYTES + KEY_ID_BYTES + 64;

// The first 8 bytes of the SHA-256 of the key's 64-byte X-then-Y form.
using KeyId = std::array<std::uint8_t, KEY_ID_BYTES>;

struct SignatureBlock {
  KeyId keyId{};
  RawSignature signature{};
};

// The block at the end of `file`, when the last 80 bytes begin with the magic and at least one
// byte comes before them (a file that is the block alone signs nothing).
std::optional<SignatureBlock> FindSignatureBlock(std::span<const std::uint8_t> file);

// `file` without its block, or all of it when it has none.
std::span<const std::uint8_t> SignedPart(std::span<const std::uint8_t> file);

std::array<std::uint8_t, SIGNATURE_BLOCK_BYTES> EncodeSignatureBlock(const SignatureBlock& block);

std::optional<KeyId> KeyIdOf(const UpdateKey& key);
std::string FormatKeyId(const KeyId& id);  // 16 lower-case hex digits

enum class SignatureCheck { Valid, NoBlock, OtherKey, BadSignature };
const char* DescribeSignatureCheck(SignatureCheck check);

// Whether `file` ends in a block by `key` whose signature covers every byte before it.
SignatureCheck CheckUpdateSignature(std::span<const std::uint8_t> file, const UpdateKey& key);
