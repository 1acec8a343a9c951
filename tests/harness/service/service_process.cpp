#include "service_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "test_support.h"

extern char** environ;

std::uint16_t PortAfter(const LoggedProcess& process, const std::string& text) {
  if (!process.WaitForLine(text)) return 0;
  for (const std::string& line : process.Lines())
    if (const std::size_t at = line.find(text); at != std::string::npos)
      return static_cast<std::uint16_t>(std::stoi(line.substr(at + text.size())));
  return 0;
}

// $ORVANE_SERVICE_BINARY lets a benchmark measure another build of the service, e.g. an older one.
std::string ServiceBinary() {
  const char* other = std::getenv("ORVANE_SERVICE_BINARY");
  return other && *other ? other : ORVANE_SERVICE_BINARY;
}

LoggedProcess::LoggedProcess(std::vector<std::string> arguments, const std::vector<std::string>& environment) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> entries(environment);
  std::vector<char*> envp;
  for (char** entry = environ; *entry; ++entry) envp.push_back(*entry);
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
  const int spawned = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (spawned != 0) {
    m_pid = -1;
    close(pipe_ends[0]);
    m_logClosed = true;
    return;
  }
  m_reader = std::thread([this, descriptor = pipe_ends[0]] { ReadLog(descriptor); });
}

LoggedProcess::~LoggedProcess() {
  if (m_pid > 0 && !m_status) {
    kill(m_pid, SIGKILL);
    WaitForExit(std::chrono::seconds(10));
  }
  if (m_reader.joinable()) m_reader.join();
}

void LoggedProcess::ReadLog(int descriptor) {
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
      m_lines.push_back(std::move(line));
      m_changed.notify_all();
    }
  }
  close(descriptor);
  std::lock_guard lock(m_mutex);
  m_logClosed = true;
  m_changed.notify_all();
}

void LoggedProcess::Signal(int signal) {
  if (m_pid > 0 && !m_status) kill(m_pid, signal);
}

std::optional<int> LoggedProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (m_pid <= 0) return std::nullopt;
  const bool ended = WaitUntil(
      [&] {
        int status = 0;
        if (!m_status && waitpid(m_pid, &status, WNOHANG) == m_pid)
          m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_status.has_value();
      },
      timeout, std::chrono::milliseconds(10));
  if (!ended) return std::nullopt;
  // The reader may still be behind the process: its last lines count once the log has ended.
  std::unique_lock lock(m_mutex);
  m_changed.wait_for(lock, timeout, [&] { return m_logClosed; });
  return m_status;
}

std::vector<std::string> LoggedProcess::Lines() const {
  std::lock_guard lock(m_mutex);
  return m_lines;
}

bool LoggedProcess::WaitForLine(const std::string& text, std::size_t skip, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  bool found = false;
  m_changed.wait_for(lock, timeout, [&] {
    for (std::size_t i = skip; i < m_lines.size() && !found; ++i) found = m_lines[i].find(text) != std::string::npos;
    return found || m_logClosed;
  });
  return found;
}

std::size_t LoggedProcess::CountLines(const std::string& text) const {
  std::lock_guard lock(m_mutex);
  std::size_t count = 0;
  for (const std::string& line : m_lines) count += line.find(text) != std::string::npos;
  return count;
}

namespace {

std::vector<std::string> ServiceArguments(std::vector<std::string> arguments, bool ownListen) {
  arguments.insert(arguments.begin(), ServiceBinary());
  if (!ownListen) arguments.insert(arguments.begin() + 1, {"--listen", "127.0.0.1:0"});
  return arguments;
}

}  // namespace

ServiceProcess::ServiceProcess(std::vector<std::string> arguments, bool ownListen,
                               const std::vector<std::string>& environment)
    : LoggedProcess(ServiceArguments(std::move(arguments), ownListen), environment) {
  const std::string listening = "listening on 127.0.0.1:";
  if (!WaitForLine(listening)) return;
  for (const std::string& line : Lines())
    if (const std::size_t at = line.find(listening); at != std::string::npos) {
      m_port = static_cast<std::uint16_t>(std::stoi(line.substr(at + listening.size())));
      break;
    }
}

std::size_t MemoryKib(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with(field + ":")) return std::stoul(line.substr(field.size() + 1));
  return 0;
}

double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The name in parentheses may hold spaces; the fields are counted from after it.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int index = 3; fields >> field && index <= 15; ++index) {
    if (index == 14) user = std::stoull(field);
    if (index == 15) system = std::stoull(field);
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}
