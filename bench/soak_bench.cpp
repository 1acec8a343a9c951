// A soak run of the whole program under Wine: one orvane.exe against the fake rates service,
// through many refreshes ("Update Now") and a chain of signed library updates, each newer than
// the one before. Its working set, private bytes and handles are read from outside at the start,
// after every 100 refreshes, after each swap and at the end: what grows with the work is a leak.
//   soak_bench.exe [REFRESHES [SWAPS]]      defaults 1000 and 20 (at most the chain's length)
// clang-format off
#include <winsock2.h>  // before windows.h, which the other headers bring
#include <windows.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "fake_rates_service.h"
#include "launcher_harness.h"
#include "net/protocol.h"
#include "process_usage.h"
#include "program_window.h"
#include "resource.h"
#include "soak_chain.h"

namespace {

constexpr std::size_t CHECKPOINT_EVERY = 100;
// "Flat within noise", judged from the figures after the first checkpoint, once the heaps, the
// caches and the first swaps have settled: a page per refresh would add 4 MB over a thousand
// refreshes, a handle per swap twenty handles.
constexpr double MEMORY_TOLERANCE = 0.05;
constexpr long HANDLE_TOLERANCE = 10;

using Bytes = std::vector<std::uint8_t>;

const Bytes FILE_REQUEST = {2, 0, 0, 0, 0, 0, 0, 0};

std::size_t CountRequests(const FakeRatesService& service, const Bytes& request) {
  const auto requests = service.Requests();
  return static_cast<std::size_t>(std::count(requests.begin(), requests.end(), request));
}

// Two tables in turn, so that every refresh changes what the board shows and is seen to arrive.
RateTable RatesOfRefresh(std::size_t refresh) {
  RateTable rates = ServiceRates();
  if (refresh % 2)
    for (float& rate : rates) rate += 0.0125f;
  return rates;
}

std::string VersionText(float version) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(version));
  return text;
}

struct Row {
  std::string point;
  std::size_t refreshes;
  std::size_t swaps;
  float library;
  ProcessUsage usage;
};

class SoakRun {
 public:
  // The program with the released library (1.1), its first rates on the board.
  bool Start() {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software");
    m_folder.Place(ORVANE_LIBRARY, "BrennikDll.dll");
    m_service.SetReply(CMD_GET_VERSION, {FloatBytes(CLIENT_VERSION)});  // offers nothing
    ServeProgramRates(m_service, RatesOfRefresh(0));
    m_program.emplace(m_folder);
    m_window = WaitForRatesWindow(m_program->ProcessId());
    if (!m_window) return Fail("the program showed no window");
    if (!WaitForRates(m_window, RatesOfRefresh(0))) {
      std::fprintf(stderr, "soak_bench: %zu requests came (is port 9000 free?), the first box shows \"%s\"\n",
                   m_service.Requests().size(), ControlText(m_window, IDC_RATE_FIRST).c_str());
      return Fail("the program showed no rates");
    }
    m_process.Reset(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, m_program->ProcessId()));
    if (!m_process) return Fail("orvane.exe cannot be opened for its figures");
    m_handleSource = ChooseHandleSource(m_process.Get());
    return true;
  }

  // One press of "Update Now" that refreshes; a press while the last refresh still ends is
  // dropped by the program, so it presses again until the rates are asked for.
  bool Refresh() {
    const std::size_t refresh = m_refreshes + 1;
    ServeProgramRates(m_service, RatesOfRefresh(refresh));
    const Bytes ratesRequest = ProgramRatesRequest();
    const std::size_t before = CountRequests(m_service, ratesRequest);
    const auto asked = [&] { return CountRequests(m_service, ratesRequest) > before; };
    for (int press = 0; press < 240 && !asked(); ++press) {
      PressUpdateNow();
      WaitUntil(asked, std::chrono::milliseconds(250), std::chrono::milliseconds(5));
    }
    if (!asked() || !WaitForRates(m_window, RatesOfRefresh(refresh))) return Fail("a refresh did not arrive");
    m_refreshes += CountRequests(m_service, ratesRequest) - before;
    return true;
  }

  // The service offers the next library of the chain; "Update Now" downloads it, the window
  // ends for it, the launcher swaps it in and runs it, and its own first refresh takes the rates
  // rather than the offer of its own version.
  bool Swap(const SoakLibrary& next) {
    const auto file = ReadFileBytes(next.path);
    if (!file) return Fail("a library of the chain is missing: build the target soak_libraries");
    const Bytes ratesRequest = ProgramRatesRequest();
    const std::size_t downloads = CountRequests(m_service, FILE_REQUEST);
    m_service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(static_cast<std::int32_t>(file->size()))});
    m_service.SetReply(CMD_GET_UPDATE_FILE, {*file});
    m_service.SetReply(CMD_GET_VERSION, {FloatBytes(next.version)});
    const auto downloaded = [&] { return CountRequests(m_service, FILE_REQUEST) > downloads; };
    for (int press = 0; press < 240 && !downloaded(); ++press) {
      PressUpdateNow();
      WaitUntil(downloaded, std::chrono::milliseconds(250), std::chrono::milliseconds(5));
    }
    if (!downloaded()) return Fail("the offered library was not downloaded");
    const std::size_t ratesBefore = CountRequests(m_service, ratesRequest);
    const HWND old = m_window;
    HWND fresh = nullptr;
    const bool started = WaitUntil([&] {
      fresh = FindRatesWindow(m_program->ProcessId());
      return fresh && fresh != old && IsWindowVisible(fresh) && CountRequests(m_service, ratesRequest) > ratesBefore;
    });
    if (!started) return Fail("the swapped-in library did not start and refresh");
    m_window = fresh;
    if (m_folder.Bytes("BrennikDll.dll") != file) return Fail("the running library is not the one offered");
    m_service.SetReply(CMD_GET_VERSION, {FloatBytes(CLIENT_VERSION)});
    m_library = next.version;
    ++m_swaps;
    return true;
  }

  bool Measure(const std::string& point) {
    const auto usage = ReadProcessUsage(m_process.Get(), m_handleSource);
    if (!usage) return Fail("the figures of orvane.exe cannot be read");
    m_rows.push_back({point, m_refreshes, m_swaps, m_library, *usage});
    const Row& row = m_rows.back();
    // Wine gives no private bytes for another process: 0 there means "not known".
    const std::string privateKiB = row.usage.privateBytes ? std::to_string(row.usage.privateBytes / 1024) : "-";
    std::printf("%-18s %9zu %5zu %7s %12zu %12s %8lu\n", row.point.c_str(), row.refreshes, row.swaps,
                VersionText(row.library).c_str(), row.usage.workingSetBytes / 1024, privateKiB.c_str(),
                row.usage.handles);
    std::fflush(stdout);
    return true;
  }

  // Exit, as a user ends it: the launcher must end cleanly and without a message.
  bool Exit() {
    PostMessageA(m_window, WM_COMMAND, IDCANCEL, 0);
    const auto code = m_program->WaitForExit();
    const auto messages = m_program->Messages();
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software");
    if (code != 0u) return Fail("orvane.exe did not end cleanly");
    if (!messages.empty()) return Fail(("the launcher said: " + messages.front()).c_str());
    return true;
  }

  std::size_t Refreshes() const { return m_refreshes; }
  HandleSource Handles() const { return m_handleSource; }
  const std::vector<Row>& Rows() const { return m_rows; }

 private:
  void PressUpdateNow() const { PostMessageA(GetDlgItem(m_window, IDC_UPDATE_NOW), BM_CLICK, 0, 0); }

  static bool Fail(const char* what) {
    std::fprintf(stderr, "soak_bench: %s\n", what);
    return false;
  }

  ProgramFolder m_folder;
  FakeRatesService m_service{RATES_PORT};
  std::optional<LauncherProcess> m_program;
  KernelHandle m_process;
  HandleSource m_handleSource = HandleSource::ProcessHandleCount;
  HWND m_window = nullptr;
  std::size_t m_refreshes = 0;
  std::size_t m_swaps = 0;
  float m_library = CLIENT_VERSION;
  std::vector<Row> m_rows;
};

double Ratio(std::size_t value, std::size_t reference) {
  return reference ? static_cast<double>(value) / static_cast<double>(reference) : 0;
}

// Growth from the first checkpoint (the reference, measured in the same run) to the end.
bool ReportFlatness(const std::vector<Row>& rows) {
  const Row& start = rows.front();
  const Row& end = rows.back();
  const auto settled = std::find_if(rows.begin(), rows.end(), [](const Row& row) {
    return row.refreshes >= CHECKPOINT_EVERY && row.point.find("swap") == std::string::npos;
  });
  const Row& reference = settled != rows.end() ? *settled : start;
  const auto [low, high] = std::minmax_element(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return a.usage.workingSetBytes < b.usage.workingSetBytes;
  });
  const double workingSet = Ratio(end.usage.workingSetBytes, reference.usage.workingSetBytes);
  const double privateBytes = Ratio(end.usage.privateBytes, reference.usage.privateBytes);
  const long handles = static_cast<long>(end.usage.handles) - static_cast<long>(reference.usage.handles);
  std::printf("\nagainst \"%s\" (%zu refreshes, %zu swaps):\n", reference.point.c_str(), reference.refreshes,
              reference.swaps);
  std::printf("  working set  end/reference %.3f  (end/start %.3f; lowest %zu KiB, highest %zu KiB)\n", workingSet,
              Ratio(end.usage.workingSetBytes, start.usage.workingSetBytes), low->usage.workingSetBytes / 1024,
              high->usage.workingSetBytes / 1024);
  if (reference.usage.privateBytes)
    std::printf("  private      end/reference %.3f  (end/start %.3f)\n", privateBytes,
                Ratio(end.usage.privateBytes, start.usage.privateBytes));
  std::printf("  handles      end-reference %+ld  (end-start %+ld)\n", handles,
              static_cast<long>(end.usage.handles) - static_cast<long>(start.usage.handles));
  const bool flat = workingSet <= 1 + MEMORY_TOLERANCE &&
                    (!reference.usage.privateBytes || privateBytes <= 1 + MEMORY_TOLERANCE) &&
                    std::labs(handles) <= HANDLE_TOLERANCE;
  std::printf("%s (tolerance: memory %.0f%%, handles %ld)\n", flat ? "FLAT" : "GROWING", 100 * MEMORY_TOLERANCE,
              HANDLE_TOLERANCE);
  return flat;
}

std::size_t Argument(int argc, char** argv, int index, std::size_t fallback) {
  return argc > index ? static_cast<std::size_t>(std::strtoul(argv[index], nullptr, 10)) : fallback;
}

}  // namespace

// The fake service's sockets need Windows Sockets started in this process, as the tests' main
// starts it.
class WinsockScope {
 public:
  WinsockScope() {
    WSADATA data;
    m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockScope() {
    if (m_started) WSACleanup();
  }
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  bool Started() const { return m_started; }

 private:
  bool m_started = false;
};

int main(int argc, char** argv) {
  const std::size_t chainLength = sizeof SOAK_CHAIN / sizeof SOAK_CHAIN[0];
  const std::size_t refreshes = Argument(argc, argv, 1, 1000);
  std::size_t swaps = std::min(Argument(argc, argv, 2, chainLength), chainLength);
  if (!CanServeProgramRates()) {
    std::fprintf(stderr, "soak_bench: this build has only the public half of its rates key\n");
    return 2;
  }
  if (!ORVANE_BUILD_SIGNS_LIBRARIES && swaps > 0) {
    std::printf("this build names a release key: it cannot sign the chain, so no swaps\n");
    swaps = 0;
  }
  std::printf("soak: one orvane.exe, %zu refreshes (\"Update Now\") and %zu library swaps (1.1 to %s)\n", refreshes,
              swaps, VersionText(swaps ? SOAK_CHAIN[swaps - 1].version : CLIENT_VERSION).c_str());

  const auto began = std::chrono::steady_clock::now();
  const WinsockScope winsock;
  if (!winsock.Started()) {
    std::fprintf(stderr, "soak_bench: Windows Sockets did not start\n");
    return 1;
  }
  SoakRun run;
  if (!run.Start()) return 1;
  std::printf("handles counted by %s\n\n", DescribeHandleSource(run.Handles()));
  std::printf("%-18s %9s %5s %7s %12s %12s %8s\n", "point", "refreshes", "swaps", "library", "working KiB",
              "private KiB", "handles");
  if (!run.Measure("start")) return 1;

  // Swaps spread evenly, each half-way between two checkpoints: the library that a checkpoint
  // measures has run for a while.
  std::size_t swapped = 0;
  std::size_t nextCheckpoint = CHECKPOINT_EVERY;
  while (run.Refreshes() < refreshes) {
    if (!run.Refresh()) return 1;
    const std::size_t swapAt = swaps ? (2 * swapped + 1) * refreshes / (2 * swaps) : refreshes + 1;
    if (swapped < swaps && run.Refreshes() >= swapAt) {
      if (!run.Swap(SOAK_CHAIN[swapped])) return 1;
      ++swapped;
      if (!run.Measure("swap to " + VersionText(SOAK_CHAIN[swapped - 1].version))) return 1;
    }
    if (run.Refreshes() >= nextCheckpoint && run.Refreshes() < refreshes) {
      if (!run.Measure(std::to_string(nextCheckpoint) + " refreshes")) return 1;
      nextCheckpoint += CHECKPOINT_EVERY;
    }
  }
  if (!run.Measure("end")) return 1;
  const bool flat = ReportFlatness(run.Rows());
  const bool ended = run.Exit();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began);
  std::printf("%lld s in all\n", static_cast<long long>(seconds.count()));
  return ended && flat ? 0 : 1;
}
