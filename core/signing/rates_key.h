#pragma once

#include <optional>

#include "signing/signature_crypto.h"

// The public half of the key that the service signs the rates with, compiled in by the build.
// Nothing when the build has none: it then takes the unsigned rates, and their date is unknown.
const std::optional<UpdateKey>& BuildRatesKey();
