#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// The two primitives that the update check needs, taken from the platform's own cryptography:
// CNG on Windows, OpenSSL's libcrypto elsewhere. Nothing else in the program does cryptography.

using Sha256Digest = std::array<std::uint8_t, 32>;
// A P-256 public key as its point: X then Y, 32 bytes each, big-endian.
using UpdateKey = std::array<std::uint8_t, 64>;
// An ECDSA P-256 signature: r then s, 32 bytes each, big-endian.
using RawSignature = std::array<std::uint8_t, 64>;

// Nothing when the platform cannot hash.
std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes);

// True only when `signature` is a valid ECDSA signature by `key` over `digest`; a key that is
// not a point of the curve verifies nothing.
bool VerifyP256Signature(const UpdateKey& key, const Sha256Digest& digest, const RawSignature& signature);
