#pragma once

#include <string_view>

// The syslog priorities that the journal files lines under (journalctl -p).
enum class LogPriority { Error = 3, Warning = 4, Info = 6 };

// One line on stderr, written in one piece so that lines never mix. On a terminal or in a file
// it starts with a UTC time stamp; when stderr is the journal (systemd sets JOURNAL_STREAM) it
// starts with its priority instead, "<3>", "<4>" or "<6>", and the journal adds the time.
void LogLine(std::string_view text);
void LogLine(LogPriority priority, std::string_view text);

// An answer to the command line, such as a bad option, for a person to read at once: no time
// stamp; in the journal each of its lines starts with its priority, as a log line does.
void MessageLines(LogPriority priority, std::string_view text);
