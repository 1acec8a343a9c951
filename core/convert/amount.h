#pragma once

#include <string>
#include <string_view>

#include "rates/currency.h"

// Reads the leading number of `text` exactly as the C runtime's atof does in the C locale:
// leading white space, an optional sign, digits with at most one ".", an optional exponent;
// the rest is ignored and text without a number reads as 0. No hexadecimal numbers and no
// words for infinity or NaN. A number beyond the range of double reads as infinity.
double ReadAmount(std::string_view text);

// Texts for results that "%.4f" cannot show as a number.
inline constexpr char AMOUNT_OUT_OF_RANGE[] = "Out of range";
inline constexpr char AMOUNT_NO_RATE[] = "No rate";

// amount × rate of `from` ÷ rate of `to` in double precision, narrowed once to float and shown
// with "%.4f". RON counts 1; a zero divisor gives 0; an index outside the table has no rate (0).
std::string ConvertAmount(std::string_view text, int from, int to, const RateTable& rates);
