#include "update/pe_image.h"

#include <optional>

#include "base/byte_order.h"

namespace {

constexpr std::uint16_t FILE_EXECUTABLE_IMAGE = 0x0002;
constexpr std::uint16_t FILE_DLL = 0x2000;
constexpr std::uint16_t MAGIC_PE32 = 0x10B;
constexpr std::uint16_t MAGIC_PE32_PLUS = 0x20B;
constexpr std::uint32_t MAX_SECTIONS = 96;
constexpr std::uint32_t MAX_EXPORT_NAMES = 1u << 16;
constexpr std::uint16_t RESOURCE_TYPE_VERSION = 16;  // RT_VERSION
constexpr std::uint32_t RESOURCE_SUBDIRECTORY = 0x80000000;
constexpr std::uint32_t FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD;
// VS_VERSIONINFO: three 16-bit fields, the key L"VS_VERSION_INFO" with its zero, padding to a
// multiple of four, then VS_FIXEDFILEINFO (52 bytes).
constexpr std::uint32_t VERSION_KEY_AT = 6;
constexpr std::uint32_t FIXED_INFO_AT = 40;
constexpr std::uint32_t FIXED_INFO_BYTES = 52;
constexpr std::string_view VERSION_KEY = "VS_VERSION_INFO";

// Bounds-checked little-endian reads at file offsets.
class Bytes {
 public:
  explicit Bytes(std::span<const std::uint8_t> image) : m_image(image) {}

  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= m_image.size() && length <= m_image.size() - offset;
  }
  std::optional<std::uint16_t> U16(std::uint64_t offset) const {
    if (!Has(offset, 2)) return std::nullopt;
    return LoadU16(m_image.data() + offset);
  }
  std::optional<std::uint32_t> U32(std::uint64_t offset) const {
    if (!Has(offset, 4)) return std::nullopt;
    return LoadU32(m_image.data() + offset);
  }
  bool Matches(std::uint64_t offset, std::string_view text) const {
    // The name and its terminating zero.
    if (!Has(offset, text.size() + 1)) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
      if (m_image[offset + i] != static_cast<std::uint8_t>(text[i])) return false;
    return m_image[offset + text.size()] == 0;
  }

 private:
  std::span<const std::uint8_t> m_image;
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

class PeFile {
 public:
  explicit PeFile(std::span<const std::uint8_t> image) : m_bytes(image) {}

  bool ParseHeaders(std::uint16_t machine) {
    if (m_bytes.U16(0) != 0x5A4D) return false;  // "MZ"
    const auto peOffset = m_bytes.U32(0x3C);
    if (!peOffset || m_bytes.U32(*peOffset) != 0x00004550) return false;  // "PE\0\0"
    const std::uint64_t fileHeader = std::uint64_t{*peOffset} + 4;
    const auto fileMachine = m_bytes.U16(fileHeader);
    const auto sectionCount = m_bytes.U16(fileHeader + 2);
    const auto optionalSize = m_bytes.U16(fileHeader + 16);
    const auto characteristics = m_bytes.U16(fileHeader + 18);
    if (!fileMachine || !sectionCount || !optionalSize || !characteristics) return false;
    if (*fileMachine != machine) return false;
    if ((*characteristics & (FILE_DLL | FILE_EXECUTABLE_IMAGE)) != (FILE_DLL | FILE_EXECUTABLE_IMAGE)) return false;
    if (*sectionCount == 0 || *sectionCount > MAX_SECTIONS) return false;

    const std::uint64_t optional = fileHeader + 20;
    if (!m_bytes.Has(optional, *optionalSize)) return false;
    const auto magic = m_bytes.U16(optional);
    const bool plus = machine == MACHINE_AMD64 || machine == MACHINE_ARM64;
    if (magic != (plus ? MAGIC_PE32_PLUS : MAGIC_PE32)) return false;
    const std::uint64_t directoryCountAt = optional + (plus ? 108 : 92);
    const std::uint64_t directories = directoryCountAt + 4;
    const auto directoryCount = m_bytes.U32(directoryCountAt);
    // The export directory is entry 0 and must lie inside the optional header.
    if (!directoryCount || *directoryCount < 1 || directories + 8 > optional + *optionalSize) return false;
    m_exportRva = *m_bytes.U32(directories);
    m_exportSize = *m_bytes.U32(directories + 4);
    // The resource directory is entry 2; a library without one has no version.
    if (*directoryCount >= 3 && directories + 24 <= optional + *optionalSize) {
      m_resourceRva = *m_bytes.U32(directories + 16);
      m_resourceSize = *m_bytes.U32(directories + 20);
    }
    const auto headersSize = m_bytes.U32(optional + 60);
    if (!headersSize || !m_bytes.Has(0, *headersSize)) return false;

    return ParseSections(optional + *optionalSize, *sectionCount);
  }

  bool HasExport(std::string_view name) const {
    if (m_exportRva == 0 || m_exportSize < 40) return false;
    const auto directory = FileOffset(m_exportRva, 40);
    if (!directory) return false;
    const std::uint32_t functionCount = *m_bytes.U32(*directory + 20);
    const std::uint32_t nameCount = *m_bytes.U32(*directory + 24);
    const std::uint32_t functions = *m_bytes.U32(*directory + 28);
    const std::uint32_t names = *m_bytes.U32(*directory + 32);
    const std::uint32_t ordinals = *m_bytes.U32(*directory + 36);
    if (nameCount > MAX_EXPORT_NAMES) return false;
    for (std::uint32_t i = 0; i < nameCount; ++i) {
      const auto nameRvaAt = FileOffset(names + std::uint64_t{4} * i, 4);
      if (!nameRvaAt) return false;
      const auto nameAt = FileOffset(*m_bytes.U32(*nameRvaAt), name.size() + 1);
      if (!nameAt || !m_bytes.Matches(*nameAt, name)) continue;
      const auto ordinalAt = FileOffset(ordinals + std::uint64_t{2} * i, 2);
      if (!ordinalAt) return false;
      const std::uint16_t ordinal = *m_bytes.U16(*ordinalAt);
      if (ordinal >= functionCount) return false;
      const auto functionAt = FileOffset(functions + std::uint64_t{4} * ordinal, 4);
      if (!functionAt) return false;
      const std::uint32_t function = *m_bytes.U32(*functionAt);
      // An address inside the export directory is a forwarder string, not code of this file.
      const bool forwarded = function >= m_exportRva && function - m_exportRva < m_exportSize;
      return function != 0 && !forwarded && FileOffset(function, 1).has_value();
    }
    return false;
  }

  // dwFileVersionMS of the version resource: major in the high half, minor in the low half.
  std::optional<std::uint32_t> FileVersionMs() const {
    if (m_resourceRva == 0 || m_resourceSize == 0) return std::nullopt;
    const auto type = ResourceEntry(0, RESOURCE_TYPE_VERSION, true);
    const auto name = type ? ResourceEntry(*type, std::nullopt, true) : std::nullopt;
    const auto language = name ? ResourceEntry(*name, std::nullopt, false) : std::nullopt;
    const auto dataEntry = language ? FileOffset(std::uint64_t{m_resourceRva} + *language, 16) : std::nullopt;
    if (!dataEntry) return std::nullopt;
    const std::uint32_t dataRva = *m_bytes.U32(*dataEntry);
    const std::uint32_t dataSize = *m_bytes.U32(*dataEntry + 4);
    if (dataSize < FIXED_INFO_AT + FIXED_INFO_BYTES) return std::nullopt;
    const auto info = FileOffset(dataRva, FIXED_INFO_AT + FIXED_INFO_BYTES);
    if (!info || *m_bytes.U16(*info + 2) < FIXED_INFO_BYTES) return std::nullopt;
    for (std::size_t i = 0; i <= VERSION_KEY.size(); ++i) {
      const std::uint16_t expected = i < VERSION_KEY.size() ? static_cast<std::uint8_t>(VERSION_KEY[i]) : 0;
      if (*m_bytes.U16(*info + VERSION_KEY_AT + 2 * i) != expected) return std::nullopt;
    }
    if (*m_bytes.U32(*info + FIXED_INFO_AT) != FIXED_FILE_INFO_SIGNATURE) return std::nullopt;
    return *m_bytes.U32(*info + FIXED_INFO_AT + 8);
  }

 private:
  // The target of an entry of the resource directory at `directory` (offsets are relative to the
  // start of the resource data): the entry with `id`, or the first one when none is asked for.
  // Nothing when it is missing, or not the kind of target asked for.
  std::optional<std::uint32_t> ResourceEntry(std::uint32_t directory, std::optional<std::uint16_t> id,
                                             bool subdirectory) const {
    const std::uint64_t base = std::uint64_t{m_resourceRva} + directory;
    const auto header = FileOffset(base, 16);
    if (!header) return std::nullopt;
    const std::uint32_t count = std::uint32_t{*m_bytes.U16(*header + 12)} + *m_bytes.U16(*header + 14);
    for (std::uint32_t i = 0; i < count; ++i) {
      const auto entry = FileOffset(base + 16 + std::uint64_t{8} * i, 8);
      if (!entry) return std::nullopt;
      const std::uint32_t entryName = *m_bytes.U32(*entry);
      const std::uint32_t target = *m_bytes.U32(*entry + 4);
      if (id && ((entryName & RESOURCE_SUBDIRECTORY) != 0 || entryName != *id)) continue;
      if (((target & RESOURCE_SUBDIRECTORY) != 0) != subdirectory) return std::nullopt;
      return target & ~RESOURCE_SUBDIRECTORY;
    }
    return std::nullopt;
  }

  bool ParseSections(std::uint64_t table, std::uint16_t count) {
    m_sectionCount = count;
    for (std::uint16_t i = 0; i < count; ++i) {
      const std::uint64_t at = table + std::uint64_t{40} * i;
      if (!m_bytes.Has(at, 40)) return false;
      Section& section = m_sections[i];
      section.virtualAddress = *m_bytes.U32(at + 12);
      section.rawSize = *m_bytes.U32(at + 16);
      section.rawOffset = *m_bytes.U32(at + 20);
      // A truncated file loses the raw data of its last sections.
      if (section.rawSize != 0 && !m_bytes.Has(section.rawOffset, section.rawSize)) return false;
    }
    return true;
  }

  // The file offset of `length` bytes at `rva`, when they lie in one section's raw data.
  std::optional<std::uint64_t> FileOffset(std::uint64_t rva, std::uint64_t length) const {
    for (std::uint16_t i = 0; i < m_sectionCount; ++i) {
      const Section& section = m_sections[i];
      if (rva < section.virtualAddress) continue;
      const std::uint64_t into = rva - section.virtualAddress;
      if (into >= section.rawSize || length > section.rawSize - into) continue;
      return std::uint64_t{section.rawOffset} + into;
    }
    return std::nullopt;
  }

  Bytes m_bytes;
  Section m_sections[MAX_SECTIONS] = {};
  std::uint16_t m_sectionCount = 0;
  std::uint32_t m_exportRva = 0;
  std::uint32_t m_exportSize = 0;
  std::uint32_t m_resourceRva = 0;
  std::uint32_t m_resourceSize = 0;
};

}  // namespace

bool IsPeLibraryWithExport(std::span<const std::uint8_t> image, std::uint16_t machine, std::string_view exportName) {
  PeFile file(image);
  return file.ParseHeaders(machine) && file.HasExport(exportName);
}

bool IsWindowsLibraryWithExport(std::span<const std::uint8_t> image, std::string_view exportName) {
  return IsPeLibraryWithExport(image, MACHINE_AMD64, exportName) ||
         IsPeLibraryWithExport(image, MACHINE_I386, exportName);
}

std::optional<PeFileVersion> ReadPeFileVersion(std::span<const std::uint8_t> image, std::uint16_t machine) {
  PeFile file(image);
  if (!file.ParseHeaders(machine)) return std::nullopt;
  const auto versionMs = file.FileVersionMs();
  if (!versionMs) return std::nullopt;
  return PeFileVersion{static_cast<std::uint16_t>(*versionMs >> 16), static_cast<std::uint16_t>(*versionMs & 0xFFFF)};
}
