#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

inline constexpr std::uint16_t MACHINE_I386 = 0x014C;
inline constexpr std::uint16_t MACHINE_AMD64 = 0x8664;
inline constexpr std::uint16_t MACHINE_ARM64 = 0xAA64;

// The machine type of this build: an update must be a library that this process can load.
#if defined(__x86_64__) || defined(_M_X64)
inline constexpr std::uint16_t RUNNING_MACHINE = MACHINE_AMD64;
#elif defined(__i386__) || defined(_M_IX86)
inline constexpr std::uint16_t RUNNING_MACHINE = MACHINE_I386;
#elif defined(__aarch64__) || defined(_M_ARM64)
inline constexpr std::uint16_t RUNNING_MACHINE = MACHINE_ARM64;
#else
inline constexpr std::uint16_t RUNNING_MACHINE = 0;
#endif

// True when `image` is a complete PE library (DLL) for `machine`: headers and every section's
// raw data inside the file, and a named export `exportName` that is not forwarded elsewhere.
// Reads nothing outside `image`, whatever its bytes.
bool IsPeLibraryWithExport(std::span<const std::uint8_t> image, std::uint16_t machine, std::string_view exportName);

// The same for a library of either Windows machine, as the rates service offers and the
// release tools sign them.
bool IsWindowsLibraryWithExport(std::span<const std::uint8_t> image, std::string_view exportName);

// FILEVERSION of the library's version resource, its first two numbers.
struct PeFileVersion {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
};

// The version that the library's version resource (RT_VERSION, VS_FIXEDFILEINFO) gives; nothing
// when `image` is not a library for `machine` or has no such resource. Reads nothing outside
// `image`.
std::optional<PeFileVersion> ReadPeFileVersion(std::span<const std::uint8_t> image, std::uint16_t machine);
