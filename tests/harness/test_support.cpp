#include "test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  m_path = std::filesystem::temp_directory_path() /
           ("orvane-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
  std::filesystem::remove_all(m_path, error);
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
