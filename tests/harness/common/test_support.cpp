#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#else
#include <sys/wait.h>
#endif

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

CommandRun RunCommand(const std::string& commandLine) {
  CommandRun run{-1, {}};
  std::FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) run.output += buffer;
  const int status = pclose(pipe);
#ifdef _WIN32
  run.status = status;
#else
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
  return run;
}

bool MemoryStore::WriteBinary(const std::string& section, const std::string& entry,
                              std::span<const std::uint8_t> bytes) {
  if (failWrites) return false;
  values[section + "/" + entry].assign(bytes.begin(), bytes.end());
  return true;
}

std::optional<std::vector<std::uint8_t>> MemoryStore::ReadBinary(const std::string& section, const std::string& entry) {
  const auto found = values.find(section + "/" + entry);
  if (found == values.end()) return std::nullopt;
  return found->second;
}

CountingSockets::CountingSockets() : m_real(MakePlatformSockets()) {}

std::optional<Ipv4Address> CountingSockets::Resolve(const std::string& host) {
  ++resolves;
  return m_real->Resolve(host);
}

SocketHandle CountingSockets::Open() {
  const SocketHandle socket = m_real->Open();
  if (socket != NO_SOCKET) ++opens;
  return socket;
}

bool CountingSockets::Connect(SocketHandle socket, Ipv4Address address, std::uint16_t port, Milliseconds timeout) {
  return m_real->Connect(socket, address, port, timeout);
}

int CountingSockets::Send(SocketHandle socket, const std::uint8_t* bytes, int length) {
  return m_real->Send(socket, bytes, length);
}

int CountingSockets::Receive(SocketHandle socket, std::uint8_t* buffer, int length, Milliseconds timeout) {
  return m_real->Receive(socket, buffer, length, timeout);
}

void CountingSockets::Close(SocketHandle socket) {
  ++closeCalls;
  m_real->Close(socket);
}

void CountingSockets::Abort() { m_real->Abort(); }
