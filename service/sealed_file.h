#pragma once

#include <cstdint>
#include <memory>
#include <span>

// Bytes in an anonymous in-memory file that is sealed against every change, so that the kernel
// can send them to any number of sockets without a copy in this process, and no one can alter
// them while a transfer is under way. A reload makes a new one; the old one lives on as long as
// a connection still sends from it.
class SealedFile {
 public:
  // Null when the system offers no sealed memory files; the caller then sends from memory.
  static std::shared_ptr<const SealedFile> Make(std::span<const std::uint8_t> bytes);
  ~SealedFile();
  SealedFile(const SealedFile&) = delete;
  SealedFile& operator=(const SealedFile&) = delete;

  int Descriptor() const { return m_descriptor; }
  std::size_t Size() const { return m_size; }

 private:
  SealedFile(int descriptor, std::size_t size) : m_descriptor(descriptor), m_size(size) {}
  int m_descriptor;
  std::size_t m_size;
};
