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

// A program run as a child process, with what it writes to stderr collected line by line as it
// comes. It is killed, if still running, when this goes away.
class LoggedProcess {
 public:
  // `environment`: NAME=VALUE entries added to this process's own.
  explicit LoggedProcess(std::vector<std::string> argv, const std::vector<std::string>& environment = {});
  ~LoggedProcess();
  LoggedProcess(const LoggedProcess&) = delete;
  LoggedProcess& operator=(const LoggedProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  void Signal(int signal);
  // The exit status once it has exited, or nothing when it is still running after `timeout`.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

  std::vector<std::string> Lines() const;
  // Waits until a log line after the first `skip` lines contains `text`; false when the time is
  // up or the log is closed first.
  bool WaitForLine(const std::string& text, std::size_t skip = 0,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(30000)) const;
  std::size_t CountLines(const std::string& text) const;

 private:
  void ReadLog(int descriptor);

  pid_t m_pid = -1;
  std::optional<int> m_status;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<std::string> m_lines;
  bool m_logClosed = false;
  std::thread m_reader;
};

// The real orvane-rates-service as a child process, by default on a loopback port of the
// system's choice.
class ServiceProcess : public LoggedProcess {
 public:
  // Starts the service with `arguments` (plus --listen 127.0.0.1:0 unless `ownListen`) and waits
  // until it listens on 127.0.0.1, or until it exits. `environment` as for LoggedProcess.
  explicit ServiceProcess(std::vector<std::string> arguments, bool ownListen = false,
                          const std::vector<std::string>& environment = {});

  bool Listening() const { return m_port != 0; }
  std::uint16_t Port() const { return m_port; }

 private:
  std::uint16_t m_port = 0;
};

// The number that follows `text` in the first log line holding it, such as the port after
// "metrics on http://127.0.0.1:"; 0 when no such line comes.
std::uint16_t PortAfter(const LoggedProcess& process, const std::string& text);

// The service binary of this build.
std::string ServiceBinary();

// A memory figure of a running process from /proc/PID/status in KiB ("VmRSS", "VmHWM"); 0 when unknown.
std::size_t MemoryKib(pid_t pid, const std::string& field);

// User plus system CPU time that a running process has used so far, from /proc/PID/stat, in seconds.
double CpuSeconds(pid_t pid);
