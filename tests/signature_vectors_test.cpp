// The same signature vectors for both implementations of the check: natively they meet
// libcrypto, under Wine the system's CNG. The vectors come from the stock openssl command
// (tests/make-signature-vectors), so both implementations agree with an independent tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "signature_vectors.h"
#include "test_support.h"
#include "update/update_signature.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class SignatureVectors : public ::testing::Test {
 protected:
  const UpdateKey key = SignatureVectorKey("key.point");
  const UpdateKey otherKey = SignatureVectorKey("other.point");
  const Bytes content = SignatureVector("content");
  const Bytes good = SignatureVector("signed");
  const Bytes block = Tail(good, SIGNATURE_BLOCK_BYTES);
  const Bytes header = Head(block, SIGNATURE_MAGIC_BYTES + KEY_ID_BYTES);  // magic and key id
};

TEST_F(SignatureVectors, OpenSslSignatureConvertedToRawVerifies) {
  ASSERT_EQ(good.size(), content.size() + SIGNATURE_BLOCK_BYTES);
  EXPECT_EQ(CheckUpdateSignature(good, key), SignatureCheck::Valid);
  EXPECT_EQ(CheckUpdateSignature(SignatureVector("other-key"), otherKey), SignatureCheck::Valid);
  EXPECT_EQ(CheckUpdateSignature(SignatureVector("other-file"), key), SignatureCheck::Valid);
}

TEST_F(SignatureVectors, EveryFlippedByteOfTheBlockIsRefused) {
  for (std::size_t i = 0; i < SIGNATURE_BLOCK_BYTES; ++i) {
    const SignatureCheck expected = i < SIGNATURE_MAGIC_BYTES                  ? SignatureCheck::NoBlock
                                    : i < SIGNATURE_MAGIC_BYTES + KEY_ID_BYTES ? SignatureCheck::OtherKey
                                                                               : SignatureCheck::BadSignature;
    EXPECT_EQ(CheckUpdateSignature(Flipped(good, content.size() + i), key), expected) << "block byte " << i;
  }
}

TEST_F(SignatureVectors, DamagedOrForeignFilesAreRefused) {
  const Bytes otherKeySigned = SignatureVector("other-key");
  // The other key's signature under this key's id: the signature itself must be checked.
  Bytes otherKeyWithThisId = otherKeySigned;
  std::copy(block.begin() + SIGNATURE_MAGIC_BYTES, block.begin() + SIGNATURE_MAGIC_BYTES + KEY_ID_BYTES,
            otherKeyWithThisId.end() - SIGNATURE_BLOCK_BYTES + SIGNATURE_MAGIC_BYTES);
  const Bytes der = SignatureVector("content.der");
  struct Case {
    const char* name;
    Bytes file;
    SignatureCheck expected;
  } cases[] = {
      {"first byte of the image flipped", Flipped(good, 0), SignatureCheck::BadSignature},
      {"middle byte of the image flipped", Flipped(good, content.size() / 2), SignatureCheck::BadSignature},
      {"last byte of the image flipped", Flipped(good, content.size() - 1), SignatureCheck::BadSignature},
      {"block missing", content, SignatureCheck::NoBlock},
      {"block truncated by one byte", Head(good, good.size() - 1), SignatureCheck::NoBlock},
      {"block truncated to its first half", Head(good, good.size() - 40), SignatureCheck::NoBlock},
      {"block doubled", Joined(good, block), SignatureCheck::BadSignature},
      {"block followed by junk", Joined(good, {'j', 'u', 'n', 'k'}), SignatureCheck::NoBlock},
      {"the block alone", block, SignatureCheck::NoBlock},
      {"a good block over nothing, alone", SignatureVector("empty"), SignatureCheck::NoBlock},
      {"empty file", {}, SignatureCheck::NoBlock},
      {"signed with another key", otherKeySigned, SignatureCheck::OtherKey},
      {"another key's signature under this key id", otherKeyWithThisId, SignatureCheck::BadSignature},
      {"DER signature in place of the raw one", Joined(Joined(content, header), der), SignatureCheck::NoBlock},
      {"DER signature cut to the raw size", Joined(Joined(content, header), Head(der, 64)),
       SignatureCheck::BadSignature},
      {"the signature of another file", Joined(content, Tail(SignatureVector("other-file"), SIGNATURE_BLOCK_BYTES)),
       SignatureCheck::BadSignature},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckUpdateSignature(c.file, key), c.expected) << c.name;
}

TEST_F(SignatureVectors, KeyThatIsNoPointOfTheCurveVerifiesNothing) {
  const auto digest = Sha256(content);
  ASSERT_TRUE(digest);
  RawSignature signature{};
  std::copy(block.end() - 64, block.end(), signature.begin());
  EXPECT_TRUE(VerifyP256Signature(key, *digest, signature));
  UpdateKey offCurve = key;
  offCurve[63] ^= 0x01;
  EXPECT_FALSE(VerifyP256Signature(offCurve, *digest, signature));
  EXPECT_FALSE(VerifyP256Signature(UpdateKey{}, *digest, signature));
}

TEST(UpdateSignature, KeyIdIsTheStartOfTheKeysSha256) {
  // SHA-256 of 64 zero bytes: f5a5fd42d16a2030...
  const auto id = KeyIdOf(UpdateKey{});
  ASSERT_TRUE(id);
  EXPECT_EQ(FormatKeyId(*id), "f5a5fd42d16a2030");
}

}  // namespace
