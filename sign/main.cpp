// orvane-sign: makes update keys, signs libraries and checks their signatures.
#include <cstdio>
#include <string>
#include <vector>

#include "store/file_io.h"
#include "update_signer.h"

namespace {

constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_USAGE = 2;

constexpr char USAGE[] = R"(Usage:
  orvane-sign keygen PRIVATE.pem PUBLIC.pem
      make a P-256 key pair; PRIVATE.pem is readable by its owner only and never overwritten
  orvane-sign sign --key PRIVATE.pem IN.dll [OUT.dll]
      append the signature block to a library (to IN.dll itself without OUT.dll), replacing
      an existing block; only a complete Windows library exporting RunBrennikDll is signed
  orvane-sign verify --key PUBLIC.pem FILE
      exit 0 when FILE carries a good signature by the key, or 1 with the reason
)";

int Refuse(const std::string& reason) {
  std::fprintf(stderr, "orvane-sign: %s\n", reason.c_str());
  return EXIT_REFUSED;
}

int Usage() {
  std::fputs(USAGE, stderr);
  return EXIT_USAGE;
}

int Keygen(const std::string& privatePath, const std::string& publicPath) {
  std::string error;
  if (!GenerateKeyPair(privatePath, publicPath, error)) return Refuse(error);
  std::string ignored;
  const auto key = ReadPublicKeyPem(publicPath, ignored);
  const auto id = key ? KeyIdOf(*key) : std::nullopt;
  std::printf("key id %s: private %s, public %s\n", id ? FormatKeyId(*id).c_str() : "?", privatePath.c_str(),
              publicPath.c_str());
  return 0;
}

int Sign(const std::string& keyPath, const std::string& in, const std::string& out) {
  std::string error;
  const auto key = SigningKey::ReadPem(keyPath, error);
  if (!key) return Refuse(error);
  const auto file = ReadWholeFile(in);
  if (!file) return Refuse("cannot read " + in);
  const auto signedFile = SignLibrary(*file, *key, error);
  if (!signedFile) return Refuse(in + ": " + error);
  if (!WriteWholeFile(out, *signedFile, error)) return Refuse(error);
  std::printf("signed %s: %zu bytes, key id %s\n", out.c_str(), signedFile->size(),
              FormatKeyId(*KeyIdOf(key->PublicKey())).c_str());
  return 0;
}

int Verify(const std::string& keyPath, const std::string& path) {
  std::string error;
  const auto key = ReadPublicKeyPem(keyPath, error);
  if (!key) return Refuse(error);
  const auto file = ReadWholeFile(path);
  if (!file) return Refuse("cannot read " + path);
  const SignatureCheck check = CheckUpdateSignature(*file, *key);
  if (check != SignatureCheck::Valid) return Refuse(path + ": " + DescribeSignatureCheck(check));
  std::printf("%s: good signature, key id %s\n", path.c_str(), FormatKeyId(*KeyIdOf(*key)).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "keygen") return Keygen(args[1], args[2]);
  if ((args.size() == 4 || args.size() == 5) && args[0] == "sign" && args[1] == "--key")
    return Sign(args[2], args[3], args.size() == 5 ? args[4] : args[3]);
  if (args.size() == 4 && args[0] == "verify" && args[1] == "--key") return Verify(args[2], args[3]);
  return Usage();
}
