#include "update_offer.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "library_contract.h"
#include "pe_image.h"
#include "update_signature.h"
#include "update_signer.h"

namespace {

// Empty when `bytes` may be offered.
std::string SignatureProblem(const std::vector<std::uint8_t>& bytes, const std::string& keyPath) {
  if (!FindSignatureBlock(bytes)) return "has no signature block; sign it with orvane-sign";
  if (keyPath.empty()) return {};
  std::string error;
  const auto key = ReadPublicKeyPem(keyPath, error);
  if (!key) return "cannot be checked: " + error;
  const SignatureCheck check = CheckUpdateSignature(bytes, *key);
  if (check != SignatureCheck::Valid)
    return std::string("is refused for the key of ") + keyPath + ": " + DescribeSignatureCheck(check);
  return {};
}

}  // namespace

LoadedOffer LoadUpdateOffer(const std::string& path, float version, const std::string& keyPath) {
  LoadedOffer loaded;
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    loaded.error = "cannot open " + path;
    return loaded;
  }
  auto bytes = std::make_shared<std::vector<std::uint8_t>>();
  char chunk[DOWNLOAD_CHUNK_SIZE];
  while (stream.read(chunk, sizeof chunk) || stream.gcount() > 0) {
    bytes->insert(bytes->end(), chunk, chunk + stream.gcount());
    if (bytes->size() > static_cast<std::size_t>(MAX_UPDATE_SIZE)) {
      loaded.error = path + " is larger than clients accept";
      return loaded;
    }
  }
  if (stream.bad()) {
    loaded.error = "cannot read " + path;
    return loaded;
  }
  if (bytes->empty()) {
    loaded.error = path + " is empty";
    return loaded;
  }
  // As clients check it: the library is what precedes the signature block.
  if (!IsWindowsLibraryWithExport(SignedPart(*bytes), LIBRARY_EXPORT)) {
    loaded.error = path + " is not a Windows library exporting " + LIBRARY_EXPORT;
    return loaded;
  }
  if (const std::string problem = SignatureProblem(*bytes, keyPath); !problem.empty()) {
    loaded.error = path + " " + problem;
    return loaded;
  }
  char summary[128];
  std::snprintf(summary, sizeof summary, "version %g, %zu bytes, key id %s%s from ", version, bytes->size(),
                FormatKeyId(FindSignatureBlock(*bytes)->keyId).c_str(), keyPath.empty() ? "" : " (signature verified)");
  loaded.summary = summary + path;
  loaded.offer = UpdateOffer{version, std::move(bytes)};
  return loaded;
}
