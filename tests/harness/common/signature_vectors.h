// The files that tests/make-signature-vectors writes with the stock openssl command, and the
// byte edits that the checks are tried with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "signing/signature_crypto.h"

// A vector's bytes by its file name ("signed", "record", ...); a test failure and nothing when the
// file is missing.
std::vector<std::uint8_t> SignatureVector(const std::string& name);
// A public key written as its point, X then Y ("key.point"); zeros when the file is missing.
UpdateKey SignatureVectorKey(const std::string& name);

// `bytes` with the lowest bit of the byte `at` flipped.
std::vector<std::uint8_t> Flipped(std::vector<std::uint8_t> bytes, std::size_t at);
std::vector<std::uint8_t> Joined(std::vector<std::uint8_t> first, const std::vector<std::uint8_t>& second);
// The first or the last `count` bytes.
std::vector<std::uint8_t> Head(const std::vector<std::uint8_t>& bytes, std::size_t count);
std::vector<std::uint8_t> Tail(const std::vector<std::uint8_t>& bytes, std::size_t count);
