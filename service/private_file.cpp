#include "private_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int descriptor, std::span<const std::uint8_t> bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count =
        pwrite(descriptor, bytes.data() + written, bytes.size() - written, static_cast<off_t>(written));
    if (count <= 0) return false;
    written += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace

std::shared_ptr<const PrivateFile> PrivateFile::Make(std::span<const std::uint8_t> bytes,
                                                     const std::vector<std::string>& directories) {
  for (const std::string& directory : directories) {
    const int descriptor = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor < 0) continue;
    // Only read from here on: a descriptor opened again through /proc could not write either.
    if (WriteAll(descriptor, bytes) && fchmod(descriptor, 0400) == 0)
      return std::shared_ptr<const PrivateFile>(
          new PrivateFile(descriptor, bytes.size(), "unnamed file in", directory));
    close(descriptor);
  }
  const int descriptor = memfd_create("orvane-offer", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (descriptor < 0) return nullptr;
  if (!WriteAll(descriptor, bytes) ||
      fcntl(descriptor, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    close(descriptor);
    return nullptr;
  }
  return std::shared_ptr<const PrivateFile>(new PrivateFile(descriptor, bytes.size(), "sealed memfd", ""));
}

PrivateFile::~PrivateFile() { close(m_descriptor); }
