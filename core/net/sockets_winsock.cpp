#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <memory>

#include "net/socket_wait.h"
#include "resolve_ipv4.h"

namespace {

// Sending 8 bytes never fills a socket buffer; this only bounds a peer that stops reading.
constexpr Milliseconds SEND_TIMEOUT{10000};

// An event that a socket's network events set until the wait is over; the association ends
// before the event is closed.
class SocketEvent {
 public:
  SocketEvent(SOCKET s, long events) : m_socket(s), m_event(WSACreateEvent()) {
    m_selected = m_event != WSA_INVALID_EVENT && WSAEventSelect(s, m_event, events) == 0;
  }
  ~SocketEvent() {
    if (m_selected) WSAEventSelect(m_socket, nullptr, 0);
    if (m_event != WSA_INVALID_EVENT) WSACloseEvent(m_event);
  }
  SocketEvent(const SocketEvent&) = delete;
  SocketEvent& operator=(const SocketEvent&) = delete;

  bool Selected() const { return m_selected; }
  WSAEVENT Get() const { return m_event; }
  // Clears the event and the socket's record of what happened, so that the next one sets it again.
  void Reset() const {
    WSANETWORKEVENTS happened{};
    WSAEnumNetworkEvents(m_socket, m_event, &happened);
  }

 private:
  SOCKET m_socket;
  WSAEVENT m_event;
  bool m_selected = false;
};

// What a look-up and the Resolve that waits for it share; the last of the two to let go of it
// closes it, so a look-up that outlives its Resolve writes into something that still exists.
struct Lookup {
  Lookup(std::string name, HostResolver resolver)
      : host(std::move(name)), resolve(resolver), done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Lookup() {
    if (done) CloseHandle(done);
  }
  Lookup(const Lookup&) = delete;
  Lookup& operator=(const Lookup&) = delete;

  const std::string host;
  const HostResolver resolve;
  const HANDLE done;  // set once `address` is
  std::optional<Ipv4Address> address;
  std::atomic<bool> finished{false};  // orders the write of `address` before its read
};

struct LookupStart {
  std::shared_ptr<Lookup> lookup;
  HMODULE module;  // a reference on the module that holds this code, for the thread's life
};

DWORD WINAPI RunLookup(void* parameter) {
  const HMODULE module = static_cast<LookupStart*>(parameter)->module;
  {
    const std::shared_ptr<Lookup> lookup = std::move(static_cast<LookupStart*>(parameter)->lookup);
    delete static_cast<LookupStart*>(parameter);
    // Its own reference on Windows Sockets: the library's run may end, and clean it up, first.
    WSADATA data;
    const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (started) lookup->address = lookup->resolve(lookup->host);
    lookup->finished.store(true, std::memory_order_release);
    SetEvent(lookup->done);
    if (started) WSACleanup();
  }
  // The library may have been unloaded by the launcher's FreeLibrary while this ran; the
  // reference taken for this thread keeps the code here until the thread is gone.
  FreeLibraryAndExitThread(module, 0);
}

class WinsockSockets final : public SocketApi {
 public:
  explicit WinsockSockets(HostResolver resolve)
      : m_resolve(resolve ? resolve : ResolveIpv4), m_cancel(WSACreateEvent()) {}
  ~WinsockSockets() override {
    if (m_cancel != WSA_INVALID_EVENT) WSACloseEvent(m_cancel);
  }
  WinsockSockets(const WinsockSockets&) = delete;
  WinsockSockets& operator=(const WinsockSockets&) = delete;

  std::optional<Ipv4Address> Resolve(const std::string& host) override {
    if (m_aborted || m_cancel == WSA_INVALID_EVENT) return std::nullopt;  // nothing follows an abort
    const auto lookup = std::make_shared<Lookup>(host, m_resolve);
    HMODULE module = nullptr;
    if (!lookup->done ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunLookup), &module))
      return std::nullopt;
    auto* start = new LookupStart{lookup, module};
    const HANDLE thread = CreateThread(nullptr, 0, RunLookup, start, 0, nullptr);
    if (!thread) {
      delete start;
      FreeLibrary(module);
      return std::nullopt;
    }
    CloseHandle(thread);  // nobody waits for it
    // On an abort or a time-out the look-up is left to finish alone; its result is dropped.
    const HANDLE events[] = {m_cancel, lookup->done};
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(RESOLVE_TIMEOUT.count()));
    if (woken != WAIT_OBJECT_0 + 1 || !lookup->finished.load(std::memory_order_acquire)) return std::nullopt;
    return lookup->address;
  }

  SocketHandle Open() override {
    if (m_cancel == WSA_INVALID_EVENT) return NO_SOCKET;  // a socket that no abort could reach is never opened
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return NO_SOCKET;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    return static_cast<SocketHandle>(s);
  }

  bool Connect(SocketHandle socket, Ipv4Address address, std::uint16_t port, Milliseconds timeout) override {
    if (m_aborted) return false;  // a loopback connect can succeed before any wait
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address.networkOrder;
    const SOCKET s = static_cast<SOCKET>(socket);
    if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK || Wait(s, Direction::Write, timeout) != WaitResult::Ready) return false;
    int error = 0;
    int length = sizeof error;
    return getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
  }

  int Send(SocketHandle socket, const std::uint8_t* bytes, int length) override {
    if (m_aborted) return -1;
    const SOCKET s = static_cast<SOCKET>(socket);
    for (;;) {
      const int sent = send(s, reinterpret_cast<const char*>(bytes), length, 0);
      if (sent > 0) return sent;
      if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK ||
          Wait(s, Direction::Write, SEND_TIMEOUT) != WaitResult::Ready)
        return -1;
    }
  }

  int Receive(SocketHandle socket, std::uint8_t* buffer, int length, Milliseconds timeout) override {
    if (m_aborted) return RECEIVE_FAILED;
    const SOCKET s = static_cast<SOCKET>(socket);
    for (;;) {
      const int received = recv(s, reinterpret_cast<char*>(buffer), length, 0);
      if (received >= 0) return received;
      if (WSAGetLastError() != WSAEWOULDBLOCK) return RECEIVE_FAILED;
      const WaitResult waited = Wait(s, Direction::Read, timeout);
      if (waited != WaitResult::Ready) return ReceiveResultOf(waited);
    }
  }

  void Close(SocketHandle socket) override { closesocket(static_cast<SOCKET>(socket)); }

  void Abort() override {
    m_aborted = true;
    WSASetEvent(m_cancel);  // manual reset and never reset: every later wait ends at once too
  }

 private:
  enum class Direction { Read, Write };

  // The socket's event is armed before the state is looked at, so nothing that happens between
  // the look and the sleep is missed.
  WaitResult Wait(SOCKET s, Direction direction, Milliseconds timeout) const {
    const Deadline deadline(timeout);
    const SocketEvent network(s, direction == Direction::Read ? FD_READ | FD_CLOSE : FD_WRITE | FD_CONNECT | FD_CLOSE);
    if (!network.Selected()) return WaitResult::Failed;
    for (;;) {
      if (m_aborted) return WaitResult::Failed;
      const int state = PollNow(s, direction);
      if (state != 0) return state > 0 ? WaitResult::Ready : WaitResult::Failed;
      const WSAEVENT events[] = {m_cancel, network.Get()};
      const DWORD woken =
          WSAWaitForMultipleEvents(2, events, FALSE, static_cast<DWORD>(deadline.Left().count()), FALSE);
      if (woken == WSA_WAIT_TIMEOUT) return WaitResult::TimedOut;
      if (woken != WSA_WAIT_EVENT_0 + 1) return WaitResult::Failed;  // the abort, or a failed wait
      network.Reset();
    }
  }

  // 1 when the socket is ready for `direction`, 0 when not yet, -1 when it has failed.
  static int PollNow(SOCKET s, Direction direction) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);  // a failed non-blocking connect shows here, not as writable
    timeval now{0, 0};
    const int count = direction == Direction::Read ? select(0, &ready, nullptr, &failed, &now)
                                                   : select(0, nullptr, &ready, &failed, &now);
    if (count == SOCKET_ERROR || FD_ISSET(s, &failed)) return -1;
    return count > 0 ? 1 : 0;
  }

  const HostResolver m_resolve;
  const WSAEVENT m_cancel;  // manual reset; Abort sets it
  std::atomic<bool> m_aborted{false};
};

}  // namespace

std::unique_ptr<SocketApi> MakePlatformSockets(HostResolver resolve) {
  return std::make_unique<WinsockSockets>(resolve);
}
