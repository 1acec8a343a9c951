#include "update_offer.h"

#include <cstdio>
#include <filesystem>

#include "store/file_io.h"
#include "update/library_contract.h"
#include "update/pe_image.h"
#include "update/update_signature.h"
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
  auto read = ReadWholeFile(path, MAX_UPDATE_SIZE);
  if (!read) {
    std::error_code unknown;
    const bool tooLarge = std::filesystem::file_size(path, unknown) > static_cast<std::uintmax_t>(MAX_UPDATE_SIZE);
    loaded.error = !unknown && tooLarge ? path + " is larger than clients accept" : "cannot read " + path;
    return loaded;
  }
  auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(*read));
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
