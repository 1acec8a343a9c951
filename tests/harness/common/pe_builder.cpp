#include "pe_builder.h"

#include <cstring>

#include "base/byte_order.h"

namespace {

constexpr std::uint32_t HEADERS = 0x200;
constexpr std::uint32_t SECTION_RVA = 0x1000;
constexpr std::uint32_t EXPORT_SIZE = 0x100;
constexpr std::uint32_t RESOURCE_RVA = 0x1100;
constexpr std::uint32_t RESOURCE_SIZE = 0xB4;
constexpr std::uint32_t VERSION_INFO_BYTES = 92;  // the header, the key and VS_FIXEDFILEINFO

std::uint32_t At(std::uint32_t rva) { return rva - SECTION_RVA + HEADERS; }

// One resource directory with one entry at `offset` from the start of the resource data.
void StoreResourceDirectory(std::uint8_t* resources, std::uint32_t offset, std::uint32_t id, std::uint32_t target) {
  StoreU16(resources + offset + 14, 1);  // one entry with an id, none with a name
  StoreU32(resources + offset + 16, id);
  StoreU32(resources + offset + 20, target);
}

// RT_VERSION, id 1, language 0x409, as windres lays out a VERSIONINFO.
void StoreVersionResource(std::uint8_t* p, PeFileVersion version) {
  std::uint8_t* resources = p + At(RESOURCE_RVA);
  StoreResourceDirectory(resources, 0x00, 16, 0x80000000 | 0x18);
  StoreResourceDirectory(resources, 0x18, 1, 0x80000000 | 0x30);
  StoreResourceDirectory(resources, 0x30, 0x409, 0x48);
  StoreU32(resources + 0x48, RESOURCE_RVA + 0x58);
  StoreU32(resources + 0x4C, VERSION_INFO_BYTES);
  std::uint8_t* info = resources + 0x58;
  StoreU16(info, VERSION_INFO_BYTES);
  StoreU16(info + 2, 52);
  const char key[] = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < sizeof key; ++i) StoreU16(info + 6 + 2 * i, static_cast<std::uint8_t>(key[i]));
  StoreU32(info + 40, 0xFEEF04BD);
  StoreU32(info + 44, 0x00010000);
  StoreU32(info + 48, (std::uint32_t{version.major} << 16) | version.minor);
}

}  // namespace

std::vector<std::uint8_t> BuildLibraryImage(const PeOptions& options) {
  std::vector<std::uint8_t> image(options.size, 0);
  std::uint8_t* p = image.data();
  const bool plus = options.machine == MACHINE_AMD64 || options.machine == MACHINE_ARM64;
  const std::uint16_t optionalSize = plus ? 240 : 224;

  StoreU16(p, 0x5A4D);
  StoreU32(p + 0x3C, 0x40);
  StoreU32(p + 0x40, 0x00004550);
  const std::uint32_t file = 0x44;
  StoreU16(p + file, options.machine);
  StoreU16(p + file + 2, 1);
  StoreU16(p + file + 16, optionalSize);
  StoreU16(p + file + 18, static_cast<std::uint16_t>(0x0022 | (options.dll ? 0x2000 : 0)));
  const std::uint32_t optional = file + 20;
  StoreU16(p + optional, plus ? 0x20B : 0x10B);
  StoreU32(p + optional + 32, 0x1000);  // section alignment
  StoreU32(p + optional + 36, 0x200);   // file alignment
  StoreU32(p + optional + 56, 0x3000);  // size of image
  StoreU32(p + optional + 60, HEADERS);
  const std::uint32_t directories = optional + (plus ? 112 : 96);
  StoreU32(p + directories - 4, 16);
  StoreU32(p + directories, SECTION_RVA);
  StoreU32(p + directories + 4, EXPORT_SIZE);
  const bool versioned = options.fileVersion && options.size >= At(RESOURCE_RVA + RESOURCE_SIZE);
  if (versioned) {
    StoreU32(p + directories + 16, RESOURCE_RVA);
    StoreU32(p + directories + 20, RESOURCE_SIZE);
  }

  const std::uint32_t section = optional + optionalSize;
  std::memcpy(p + section, ".edata", 6);
  const auto rawSize = static_cast<std::uint32_t>(options.size - HEADERS + options.claimExtra);
  StoreU32(p + section + 8, rawSize);
  StoreU32(p + section + 12, SECTION_RVA);
  StoreU32(p + section + 16, rawSize);
  StoreU32(p + section + 20, HEADERS);
  StoreU32(p + section + 36, 0x60000020);

  const std::uint32_t exports = At(SECTION_RVA);
  StoreU32(p + exports + 12, 0x1060);
  StoreU32(p + exports + 16, 1);
  StoreU32(p + exports + 20, 1);
  StoreU32(p + exports + 24, 1);
  StoreU32(p + exports + 28, 0x1040);
  StoreU32(p + exports + 32, 0x1044);
  StoreU32(p + exports + 36, 0x1048);
  StoreU32(p + At(0x1040), options.forwarded ? 0x1070 : 0x1200);
  StoreU32(p + At(0x1044), 0x1050);
  StoreU16(p + At(0x1048), 0);
  std::memcpy(p + At(0x1050), options.exportName.c_str(), std::min<std::size_t>(options.exportName.size(), 15));
  std::memcpy(p + At(0x1060), "lib.dll", 7);
  std::memcpy(p + At(0x1070), "other.Run", 9);
  if (versioned) StoreVersionResource(p, *options.fileVersion);
  return image;
}
