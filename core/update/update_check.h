#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "signing/signature_crypto.h"
#include "update/pe_image.h"

// Versions are ordered: an offer is taken only when it is a finite number above the running
// version, so an earlier signed release cannot be served back (a downgrade) and an offer of the
// running version or below never loops.
bool IsNewerVersion(float offered, float running);

// The client version of a library: its FILEVERSION major.minor read as the decimal number
// "major.minor" (1,2 gives 1.2; 2,0 gives 2).
std::optional<float> ClientVersionOf(PeFileVersion version);

// The shortest text that reads back as `version` ("1.2", "2"), as the launcher and the library
// pass versions to each other.
std::string FormatVersion(float version);

// Whether `version` is in a list of versions separated by ";", or the list is "*" (any). Entries
// that are not numbers match nothing.
bool IsListedVersion(std::string_view list, float version);

enum class UpdateCheck { Valid, BadSignature, NotALibrary, OtherVersion };
const char* DescribeUpdateCheck(UpdateCheck check);

// Everything a downloaded file must be before it may replace the running library, checked in
// this order so that no unauthenticated byte reaches the PE parser: signed with `key`, then a
// library this process can load with the export, then its own version resource (inside the
// signed bytes) saying `offered`.
UpdateCheck CheckUpdateFile(std::span<const std::uint8_t> file, const UpdateKey& key, float offered);
