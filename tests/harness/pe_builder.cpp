#include "pe_builder.h"

#include <cstring>

#include "byte_order.h"

namespace {

constexpr std::uint32_t HEADERS = 0x200;
constexpr std::uint32_t SECTION_RVA = 0x1000;
constexpr std::uint32_t EXPORT_SIZE = 0x100;

std::uint32_t At(std::uint32_t rva) { return rva - SECTION_RVA + HEADERS; }

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
  return image;
}
