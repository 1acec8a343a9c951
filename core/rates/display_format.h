#pragma once

#include <string>

#include "rates/snapshot.h"

// Fixed notation with exactly `decimals` decimals, "." as the point, no grouping, whatever the
// locale: what "%.Nf" prints in the C locale.
std::string FormatFixed(double value, int decimals);

// A rate as the board shows it: "%.5f" of the float widened to double.
std::string FormatRate(float rate);

// "Last Updated: dd/mm/yyyy hh:mm".
std::string FormatLastUpdated(const SystemTime& time);
