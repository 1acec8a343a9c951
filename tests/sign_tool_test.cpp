// orvane-sign as a user runs it, and its signatures checked by the stock openssl command.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pe_builder.h"
#include "test_support.h"
#include "update/update_signature.h"
#include "update_signer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

CommandRun Sign(const std::string& arguments) { return RunCommand(std::string(ORVANE_SIGN_PROGRAM) + " " + arguments); }

class SignTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Sign("keygen " + Path("key.pem") + " " + Path("key.pub.pem")).status, 0);
    ASSERT_EQ(Sign("keygen " + Path("other.pem") + " " + Path("other.pub.pem")).status, 0);
    WriteFileBytes(Path("library.dll"), library);
  }
  std::string Path(const std::string& name) const { return dir.File(name); }
  Bytes File(const std::string& name) const { return ReadFileBytes(Path(name)).value_or(Bytes{}); }

  TempDir dir;
  const Bytes library = BuildLibraryImage({.size = 7000});
};

TEST_F(SignTool, KeygenMakesAnOwnerOnlyPrivateKeyAndNeverOverwritesOne) {
  const auto permissions = std::filesystem::status(Path("key.pem")).permissions();
  EXPECT_EQ(permissions & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const Bytes before = File("key.pem");
  const CommandRun again = Sign("keygen " + Path("key.pem") + " " + Path("new.pub.pem"));
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.output.find("cannot create"), std::string::npos) << again.output;
  EXPECT_EQ(File("key.pem"), before);
  EXPECT_FALSE(std::filesystem::exists(Path("new.pub.pem")));
}

TEST_F(SignTool, SignedLibraryVerifiesAndKeepsItsBytesBeforeTheBlock) {
  const CommandRun signing =
      Sign("sign --key " + Path("key.pem") + " " + Path("library.dll") + " " + Path("signed.dll"));
  ASSERT_EQ(signing.status, 0) << signing.output;
  const Bytes signedFile = File("signed.dll");
  ASSERT_EQ(signedFile.size(), library.size() + SIGNATURE_BLOCK_BYTES);
  EXPECT_TRUE(std::equal(library.begin(), library.end(), signedFile.begin()));
  EXPECT_EQ(File("library.dll"), library);  // IN is left alone when OUT is given

  const CommandRun good = Sign("verify --key " + Path("key.pub.pem") + " " + Path("signed.dll"));
  EXPECT_EQ(good.status, 0) << good.output;
  const CommandRun other = Sign("verify --key " + Path("other.pub.pem") + " " + Path("signed.dll"));
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.output, "orvane-sign: " + Path("signed.dll") + ": signed with another key\n");
}

TEST_F(SignTool, SigningAgainReplacesTheBlockInPlace) {
  ASSERT_EQ(Sign("sign --key " + Path("other.pem") + " " + Path("library.dll")).status, 0);
  ASSERT_EQ(Sign("sign --key " + Path("key.pem") + " " + Path("library.dll")).status, 0);
  EXPECT_EQ(File("library.dll").size(), library.size() + SIGNATURE_BLOCK_BYTES);
  EXPECT_EQ(Sign("verify --key " + Path("key.pub.pem") + " " + Path("library.dll")).status, 0);
  EXPECT_FALSE(std::filesystem::exists(Path("library.dll.signing")));
}

TEST_F(SignTool, RefusesWhatItMustNotSign) {
  WriteFileBytes(Path("garbage.dll"), Bytes(7000, 0x90));
  WriteFileBytes(Path("truncated.dll"), BuildLibraryImage({.size = 7000, .claimExtra = 1}));
  WriteFileBytes(Path("other-export.dll"), BuildLibraryImage({.exportName = "RunOtherDll"}));
  WriteFileBytes(Path("program.exe"), BuildLibraryImage({.dll = false}));
  struct Case {
    std::string arguments;
    int status;
  } cases[] = {
      {"sign --key " + Path("key.pem") + " " + Path("garbage.dll"), 1},
      {"sign --key " + Path("key.pem") + " " + Path("truncated.dll"), 1},
      {"sign --key " + Path("key.pem") + " " + Path("other-export.dll"), 1},
      {"sign --key " + Path("key.pem") + " " + Path("program.exe"), 1},
      {"sign --key " + Path("key.pem") + " " + Path("missing.dll"), 1},
      {"sign --key " + Path("key.pub.pem") + " " + Path("library.dll"), 1},    // a public key cannot sign
      {"verify --key " + Path("key.pub.pem") + " " + Path("library.dll"), 1},  // unsigned
      {"verify --key " + Path("key.pem") + " " + Path("library.dll"), 1},      // not a public key
      {"sign " + Path("library.dll"), 2},
      {"verify --key " + Path("key.pub.pem"), 2},
      {"frobnicate", 2},
      {"", 2},
  };
  for (const Case& c : cases) {
    const CommandRun run = Sign(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
    if (c.status == 1) {
      EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    }
  }
  EXPECT_EQ(File("garbage.dll"), Bytes(7000, 0x90));
  EXPECT_EQ(File("library.dll"), library);
}

TEST_F(SignTool, OpenSslVerifiesItsSignature) {
  ASSERT_EQ(Sign("sign --key " + Path("key.pem") + " " + Path("library.dll") + " " + Path("signed.dll")).status, 0);
  const Bytes signedFile = File("signed.dll");
  const auto block = FindSignatureBlock(signedFile);
  ASSERT_TRUE(block);
  WriteFileBytes(Path("content"), Bytes(signedFile.begin(), signedFile.end() - SIGNATURE_BLOCK_BYTES));
  WriteFileBytes(Path("signature.der"), DerFromRawSignature(block->signature));
  const std::string verify =
      "openssl dgst -sha256 -verify " + Path("key.pub.pem") + " -signature " + Path("signature.der") + " ";
  const CommandRun good = RunCommand(verify + Path("content"));
  EXPECT_EQ(good.status, 0) << good.output;
  EXPECT_EQ(good.output, "Verified OK\n");
  // And it is no tool that says yes to everything.
  WriteFileBytes(Path("content"), library);
  Bytes changed = library;
  changed[100] ^= 1;
  WriteFileBytes(Path("changed"), changed);
  EXPECT_NE(RunCommand(verify + Path("changed")).status, 0);
}

}  // namespace
