#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Paths are kept in UTF-16, as the system gives them: a folder name need not fit the ANSI code page.

// The launcher's folder from its own module path: everything before the last backslash, so that
// "C:\orvane.exe" gives "C:". A path without a backslash has no folder to work in.
std::optional<std::wstring> ProgramDirectory(std::wstring_view modulePath);

// A file of the program folder; the folder carries no trailing separator.
std::wstring ProgramFilePath(std::wstring_view directory, std::wstring_view fileName);

// The system's file functions stop at MAX_PATH characters unless a path comes in its extended form
// ("\\?\C:\..." or "\\?\UNC\server\share\..."), which takes the path as it stands. Shorter paths and
// paths of other forms are left alone.
inline constexpr std::size_t PLAIN_PATH_LIMIT = 260;
std::wstring ExtendedLengthPath(std::wstring_view path);
