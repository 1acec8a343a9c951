#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A private copy of some bytes in a file that has no name, so that the kernel can send them to
// any number of sockets without a copy in this process, and nothing else changes them while a
// transfer is under way. A reload makes a new one; the old one lives on as long as a connection
// still sends from it.
//
// The copy is an unnamed file (O_TMPFILE) in the first of `directories` that allows one: sendfile
// from a disk file system's page cache costs the least. Where none does, it is a sealed memfd
// (immutable by construction, but its splice path costs about a tenth more CPU per byte).
class PrivateFile {
 public:
  // Null when neither can be made; the caller then sends from memory.
  static std::shared_ptr<const PrivateFile> Make(std::span<const std::uint8_t> bytes,
                                                 const std::vector<std::string>& directories);
  ~PrivateFile();
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;

  int Descriptor() const { return m_descriptor; }
  std::size_t Size() const { return m_size; }
  const char* Kind() const { return m_kind; }  // for the log: "unnamed file in DIR" or "sealed memfd"
  const std::string& Where() const { return m_where; }

 private:
  PrivateFile(int descriptor, std::size_t size, const char* kind, std::string where)
      : m_descriptor(descriptor), m_size(size), m_kind(kind), m_where(std::move(where)) {}
  int m_descriptor;
  std::size_t m_size;
  const char* m_kind;
  std::string m_where;
};
