#include "update_offer.h"

#include <fstream>
#include <iterator>

#include "pe_image.h"

LoadedOffer LoadUpdateOffer(const std::string& path, float version) {
  LoadedOffer loaded;
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    loaded.error = "cannot open " + path;
    return loaded;
  }
  auto bytes = std::make_shared<std::vector<std::uint8_t>>();
  char chunk[DOWNLOAD_CHUNK_SIZE];
  while (stream.read(chunk, sizeof chunk) || stream.gcount() > 0) {
    bytes->insert(bytes->end(), chunk, chunk + stream.gcount());
    if (bytes->size() > static_cast<std::size_t>(MAX_UPDATE_SIZE)) {
      loaded.error = path + " is larger than clients accept";
      return loaded;
    }
  }
  if (stream.bad()) {
    loaded.error = "cannot read " + path;
    return loaded;
  }
  if (bytes->empty()) {
    loaded.error = path + " is empty";
    return loaded;
  }
  if (!IsPeLibraryWithExport(*bytes, MACHINE_AMD64, "RunBrennikDll") &&
      !IsPeLibraryWithExport(*bytes, MACHINE_I386, "RunBrennikDll")) {
    loaded.error = path + " is not a Windows library exporting RunBrennikDll";
    return loaded;
  }
  loaded.offer = UpdateOffer{version, std::move(bytes)};
  return loaded;
}
