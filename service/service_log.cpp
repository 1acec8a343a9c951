#include "service_log.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

bool ToJournal() {
  static const bool journal = [] {
    const char* stream = std::getenv("JOURNAL_STREAM");
    return stream != nullptr && *stream != '\0';
  }();
  return journal;
}

// "<6>" for the journal, else the time stamp and a space.
std::string LinePrefix(LogPriority priority, bool journal) {
  if (journal) {
    const char prefix[] = {'<', static_cast<char>('0' + static_cast<int>(priority)), '>'};
    return std::string(prefix, sizeof prefix);
  }
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[32];
  const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
  std::string prefix(stamp, length);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03dZ ", static_cast<int>(millis));
  return prefix + fraction;
}

// In one piece, so that lines never mix. A full pipe or a closed stderr must not stop the service;
// the text is then lost.
void WriteToStderr(const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = write(STDERR_FILENO, data, left);
    if (written <= 0) return;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace

void LogLine(std::string_view text) { LogLine(LogPriority::Info, text); }

void LogLine(LogPriority priority, std::string_view text) {
  std::string line = LinePrefix(priority, ToJournal());
  line += text;
  line += '\n';
  WriteToStderr(line);
}

void MessageLines(LogPriority priority, std::string_view text) {
  const std::string prefix = ToJournal() ? LinePrefix(priority, true) : "";
  std::string lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines += prefix;
    lines += text.substr(0, end);
    lines += '\n';
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  WriteToStderr(lines);
}
