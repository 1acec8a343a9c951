#pragma once

#include <string_view>

// One line on stderr with a UTC time stamp, written in one piece so that lines never mix.
void LogLine(std::string_view text);
