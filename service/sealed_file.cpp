#include "sealed_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

std::shared_ptr<const SealedFile> SealedFile::Make(std::span<const std::uint8_t> bytes) {
  const int descriptor = memfd_create("orvane-offer", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (descriptor < 0) return nullptr;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count =
        pwrite(descriptor, bytes.data() + written, bytes.size() - written, static_cast<off_t>(written));
    if (count <= 0) break;
    written += static_cast<std::size_t>(count);
  }
  if (written != bytes.size() ||
      fcntl(descriptor, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    close(descriptor);
    return nullptr;
  }
  return std::shared_ptr<const SealedFile>(new SealedFile(descriptor, bytes.size()));
}

SealedFile::~SealedFile() { close(m_descriptor); }
