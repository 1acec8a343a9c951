// What a running process costs, read from outside it: its working set, its private bytes and
// its handles.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>

struct ProcessUsage {
  std::size_t workingSetBytes = 0;
  std::size_t privateBytes = 0;
  unsigned long handles = 0;
};

// Where the handle count comes from. Wine answers GetProcessHandleCount with 0 for every
// process; its server's handle table of the whole system counts them instead.
enum class HandleSource { ProcessHandleCount, SystemHandleTable };

// `process` needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ; nothing when a figure cannot be
// read.
std::optional<ProcessUsage> ReadProcessUsage(HANDLE process, HandleSource source);

// GetProcessHandleCount where it gives a count, the system's handle table otherwise.
HandleSource ChooseHandleSource(HANDLE process);
const char* DescribeHandleSource(HandleSource source);
