#include "service_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstring>

#include "test_support.h"

extern char** environ;

std::string ServiceBinary() { return ORVANE_SERVICE_BINARY; }

ServiceProcess::ServiceProcess(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {ServiceBinary(), "--listen", "127.0.0.1:0"});
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
  const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (spawned != 0) {
    m_pid = -1;
    close(pipe_ends[0]);
    return;
  }
  m_reader = std::thread([this, descriptor = pipe_ends[0]] { ReadLog(descriptor); });

  std::unique_lock lock(m_mutex);
  m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_port != 0 || m_logClosed; });
}

ServiceProcess::~ServiceProcess() {
  if (m_pid > 0 && !m_status) {
    kill(m_pid, SIGKILL);
    WaitForExit(std::chrono::seconds(10));
  }
  if (m_reader.joinable()) m_reader.join();
}

void ServiceProcess::ReadLog(int descriptor) {
  std::string pending;
  char chunk[4096];
  ssize_t count = 0;
  while ((count = read(descriptor, chunk, sizeof chunk)) > 0) {
    pending.append(chunk, static_cast<std::size_t>(count));
    std::size_t end = 0;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      std::lock_guard lock(m_mutex);
      const std::size_t at = line.find("listening on 127.0.0.1:");
      if (at != std::string::npos && m_port == 0)
        m_port = static_cast<std::uint16_t>(std::stoi(line.substr(at + std::strlen("listening on 127.0.0.1:"))));
      m_lines.push_back(std::move(line));
      m_changed.notify_all();
    }
  }
  close(descriptor);
  std::lock_guard lock(m_mutex);
  m_logClosed = true;
  m_changed.notify_all();
}

void ServiceProcess::Signal(int signal) {
  if (m_pid > 0 && !m_status) kill(m_pid, signal);
}

std::optional<int> ServiceProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (m_pid <= 0) return std::nullopt;
  const bool ended = WaitUntil(
      [&] {
        int status = 0;
        if (!m_status && waitpid(m_pid, &status, WNOHANG) == m_pid)
          m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_status.has_value();
      },
      timeout, std::chrono::milliseconds(10));
  return ended ? m_status : std::nullopt;
}

std::vector<std::string> ServiceProcess::Lines() const {
  std::lock_guard lock(m_mutex);
  return m_lines;
}

bool ServiceProcess::WaitForLine(const std::string& text, std::size_t skip, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] {
    for (std::size_t i = skip; i < m_lines.size(); ++i)
      if (m_lines[i].find(text) != std::string::npos) return true;
    return false;
  });
}

std::size_t ServiceProcess::CountLines(const std::string& text) const {
  std::lock_guard lock(m_mutex);
  std::size_t count = 0;
  for (const std::string& line : m_lines) count += line.find(text) != std::string::npos;
  return count;
}
