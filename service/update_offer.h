#pragma once

#include <optional>
#include <string>

#include "served_content.h"

struct LoadedOffer {
  std::optional<UpdateOffer> offer;
  std::string error;  // set when the file cannot be offered
};

// Reads the library to offer. Only a complete Windows library that exports the program's entry
// is offered: clients check this after the download and would otherwise fetch it at every
// refresh only to throw it away.
LoadedOffer LoadUpdateOffer(const std::string& path, float version);
