#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The real orvane-rates-service as a child process on a loopback port of the system's choice,
// with its log lines collected as they come.
class ServiceProcess {
 public:
  // Starts the service with `arguments` (plus --listen 127.0.0.1:0) and waits until it listens,
  // or until it exits.
  explicit ServiceProcess(std::vector<std::string> arguments);
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  bool Listening() const { return m_port != 0; }
  std::uint16_t Port() const { return m_port; }

  void Signal(int signal);
  // The exit status once it has exited, or nothing when it is still running after `timeout`.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

  std::vector<std::string> Lines() const;
  // Waits until a log line after the first `skip` lines contains `text`.
  bool WaitForLine(const std::string& text, std::size_t skip = 0,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const;
  std::size_t CountLines(const std::string& text) const;

 private:
  void ReadLog(int descriptor);

  pid_t m_pid = -1;
  std::optional<int> m_status;
  std::uint16_t m_port = 0;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<std::string> m_lines;
  bool m_logClosed = false;
  std::thread m_reader;
};

// The service binary of this build.
std::string ServiceBinary();
