#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/pe_image.h"

// A minimal PE library image, built byte by byte, for the update check.
struct PeOptions {
  std::uint16_t machine = RUNNING_MACHINE;
  std::size_t size = 5000;  // the whole file; the one section's raw data fills it
  std::string exportName = "RunBrennikDll";
  bool dll = true;
  bool forwarded = false;      // the export's address points into the export directory
  std::size_t claimExtra = 0;  // the section claims this many raw bytes beyond the file
  // FILEVERSION of a version resource, as the libraries of that client version carry; none
  // without. Left out of images too small to hold it.
  std::optional<PeFileVersion> fileVersion = PeFileVersion{1, 2};
};

std::vector<std::uint8_t> BuildLibraryImage(const PeOptions& options = {});
