#include "process_usage.h"

#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// The extended handle table (class 64): one entry per open handle of every process, with the
// owner's id at full width. The declarations are not in MinGW's headers.
constexpr ULONG SYSTEM_EXTENDED_HANDLE_INFORMATION = 64;
constexpr NTSTATUS STATUS_INFO_LENGTH_MISMATCH_CODE = static_cast<NTSTATUS>(0xC0000004L);

struct HandleEntry {
  void* object;
  ULONG_PTR uniqueProcessId;
  ULONG_PTR handleValue;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG handleAttributes;
  ULONG reserved;
};

struct HandleTable {
  ULONG_PTR numberOfHandles;
  ULONG_PTR reserved;
  HandleEntry handles[1];
};

std::optional<unsigned long> CountInSystemTable(DWORD processId) {
  std::vector<std::uint8_t> buffer(1 << 20);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status =
        NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(SYSTEM_EXTENDED_HANDLE_INFORMATION),
                                 buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == STATUS_INFO_LENGTH_MISMATCH_CODE) {
      // Handles come and go between the two calls: room for more than was asked.
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status < 0) return std::nullopt;
    const auto& table = *reinterpret_cast<const HandleTable*>(buffer.data());
    unsigned long count = 0;
    for (ULONG_PTR i = 0; i < table.numberOfHandles; ++i)
      if (table.handles[i].uniqueProcessId == processId) ++count;
    return count;
  }
}

}  // namespace

std::optional<ProcessUsage> ReadProcessUsage(HANDLE process, HandleSource source) {
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
    return std::nullopt;
  ProcessUsage usage;
  usage.workingSetBytes = memory.WorkingSetSize;
  usage.privateBytes = memory.PrivateUsage;
  if (source == HandleSource::ProcessHandleCount) {
    DWORD handles = 0;
    if (!GetProcessHandleCount(process, &handles)) return std::nullopt;
    usage.handles = handles;
  } else {
    const auto handles = CountInSystemTable(GetProcessId(process));
    if (!handles) return std::nullopt;
    usage.handles = *handles;
  }
  return usage;
}

HandleSource ChooseHandleSource(HANDLE process) {
  // A running Windows process always holds some handles: a count of none is no count.
  DWORD handles = 0;
  return GetProcessHandleCount(process, &handles) && handles > 0 ? HandleSource::ProcessHandleCount
                                                                 : HandleSource::SystemHandleTable;
}

const char* DescribeHandleSource(HandleSource source) {
  return source == HandleSource::ProcessHandleCount
             ? "GetProcessHandleCount"
             : "the system's handle table (GetProcessHandleCount answers 0 here, as under Wine)";
}
