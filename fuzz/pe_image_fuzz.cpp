// The update check on arbitrary bytes: it must never read outside them (AddressSanitizer
// watches), for every machine type it knows.
#include "update/pe_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> image(data, size);
  for (std::uint16_t machine : {MACHINE_AMD64, MACHINE_I386, MACHINE_ARM64}) {
    IsPeLibraryWithExport(image, machine, "RunBrennikDll");
    ReadPeFileVersion(image, machine);
  }
  return 0;
}
