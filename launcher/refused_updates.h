#pragma once

#include <string>
#include <string_view>

// The list of updates that this run of the program will not take again, as the process
// environment carries it: versions separated by ';'. A version that is missing, or that could
// not be told apart inside the list, is recorded as "*", which refuses every update.
std::wstring WithRefusedUpdate(std::wstring_view refused, std::wstring_view version);
