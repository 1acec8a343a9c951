#pragma once

#include <optional>
#include <string>

#include "served_content.h"

struct LoadedOffer {
  std::optional<UpdateOffer> offer;
  std::string summary;  // for the log: version, size, key id and file
  std::string error;    // set when the file cannot be offered
};

// Reads the library to offer. Only a complete Windows library that exports the program's entry
// and ends in a signature block is offered: clients check both after the download and would
// otherwise fetch it at every refresh only to throw it away. With `keyPath` (a PEM public key)
// the signature must also be good for that key.
LoadedOffer LoadUpdateOffer(const std::string& path, float version, const std::string& keyPath = {});
