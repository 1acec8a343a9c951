#include "signature_vectors.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace {
using Bytes = std::vector<std::uint8_t>;
}  // namespace

Bytes SignatureVector(const std::string& name) {
  const auto bytes = ReadFileBytes(std::string(ORVANE_SIGNATURE_VECTORS) + "/" + name);
  if (!bytes) ADD_FAILURE() << "no vector " << name;
  return bytes.value_or(Bytes{});
}

UpdateKey SignatureVectorKey(const std::string& name) {
  const Bytes bytes = SignatureVector(name);
  UpdateKey key{};
  if (bytes.size() == key.size()) std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

Bytes Flipped(Bytes bytes, std::size_t at) {
  bytes.at(at) ^= 0x01;
  return bytes;
}

Bytes Joined(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

Bytes Head(const Bytes& bytes, std::size_t count) { return Bytes(bytes.begin(), bytes.begin() + count); }
Bytes Tail(const Bytes& bytes, std::size_t count) { return Bytes(bytes.end() - count, bytes.end()); }
