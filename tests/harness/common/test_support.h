// What tests of every kind share: waits, temporary folders, files, commands, and stand-ins for
// the settings store, the clock and the sockets.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/local_clock.h"
#include "net/socket_api.h"
#include "store/file_io.h"
#include "store/settings_store.h"

// Asks `condition` every `interval` until it holds; false when `bound` passed first. Generous
// bounds let a slow machine pass and still fail a hang.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds bound = std::chrono::seconds(60),
               std::chrono::milliseconds interval = std::chrono::milliseconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(interval);
  }
  return true;
}

// A fresh folder for one test, removed with everything in it afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& Path() const { return m_path; }
  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

inline std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::string& path) { return ReadWholeFile(path); }
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

struct CommandRun {
  int status;  // the exit code; -1 when the command could not be run
  std::string output;
};
// Runs a command line through the shell, its standard error folded into the output.
CommandRun RunCommand(const std::string& commandLine);

// A settings store in memory.
class MemoryStore final : public SettingsStore {
 public:
  bool WriteBinary(const std::string& section, const std::string& entry, std::span<const std::uint8_t> bytes) override;
  std::optional<std::vector<std::uint8_t>> ReadBinary(const std::string& section, const std::string& entry) override;

  // "section/entry" to its bytes.
  std::map<std::string, std::vector<std::uint8_t>> values;
  bool failWrites = false;
};

// A clock that says whatever the test sets.
class FixedClock final : public LocalClock {
 public:
  explicit FixedClock(std::optional<LocalTime> time) : m_time(time) {}
  std::optional<LocalTime> Now() override { return m_time; }

 private:
  std::optional<LocalTime> m_time;
};

// The platform's sockets, counting what the client does with them.
class CountingSockets final : public SocketApi {
 public:
  CountingSockets();

  std::optional<Ipv4Address> Resolve(const std::string& host) override;
  SocketHandle Open() override;
  bool Connect(SocketHandle socket, Ipv4Address address, std::uint16_t port, Milliseconds timeout) override;
  int Send(SocketHandle socket, const std::uint8_t* bytes, int length) override;
  int Receive(SocketHandle socket, std::uint8_t* buffer, int length, Milliseconds timeout) override;
  void Close(SocketHandle socket) override;
  void Abort() override;

  // Every socket that was opened was closed exactly once (handles may be reused by the system
  // after a close, so this counts calls rather than handles).
  bool AllClosedOnce() const { return opens == closeCalls; }

  int resolves = 0;
  int opens = 0;
  int closeCalls = 0;

 private:
  std::unique_ptr<SocketApi> m_real;
};
