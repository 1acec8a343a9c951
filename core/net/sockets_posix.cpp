#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <thread>

#include "net/socket_wait.h"
#include "resolve_ipv4.h"

namespace {

// Sending 8 bytes never fills a socket buffer; this only bounds a peer that stops reading.
constexpr Milliseconds SEND_TIMEOUT{10000};

// What a look-up and the Resolve that waits for it share; the last of the two to let go of it
// closes it, so a look-up that outlives its Resolve writes into something that still exists.
struct Lookup {
  Lookup() : done(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Lookup() {
    if (done >= 0) close(done);
  }
  Lookup(const Lookup&) = delete;
  Lookup& operator=(const Lookup&) = delete;

  const int done;  // readable once `address` is set
  std::optional<Ipv4Address> address;
  std::atomic<bool> finished{false};  // orders the write of `address` before its read
};

class PosixSockets final : public SocketApi {
 public:
  explicit PosixSockets(HostResolver resolve)
      : m_resolve(resolve ? resolve : ResolveIpv4), m_cancel(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~PosixSockets() override {
    if (m_cancel >= 0) close(m_cancel);
  }
  PosixSockets(const PosixSockets&) = delete;
  PosixSockets& operator=(const PosixSockets&) = delete;

  std::optional<Ipv4Address> Resolve(const std::string& host) override {
    if (m_aborted || m_cancel < 0) return std::nullopt;  // nothing follows an abort
    auto lookup = std::make_shared<Lookup>();
    if (lookup->done < 0) return std::nullopt;
    try {
      std::thread([lookup, host, resolve = m_resolve] {
        lookup->address = resolve(host);
        lookup->finished.store(true, std::memory_order_release);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(lookup->done, &one, sizeof one);
      }).detach();
    } catch (...) {
      return std::nullopt;  // no thread to spare: no look-up
    }
    // On an abort or a time-out the look-up is left to finish alone; its result is dropped.
    if (Wait(lookup->done, POLLIN, RESOLVE_TIMEOUT) != WaitResult::Ready ||
        !lookup->finished.load(std::memory_order_acquire))
      return std::nullopt;
    return lookup->address;
  }

  SocketHandle Open() override {
    if (m_cancel < 0) return NO_SOCKET;  // a socket that no abort could reach is never opened
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    return fd < 0 ? NO_SOCKET : static_cast<SocketHandle>(fd);
  }

  bool Connect(SocketHandle socket, Ipv4Address address, std::uint16_t port, Milliseconds timeout) override {
    if (m_aborted) return false;  // a loopback connect can succeed before any wait
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address.networkOrder;
    const int fd = Fd(socket);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
    if (errno != EINPROGRESS || Wait(fd, POLLOUT, timeout) != WaitResult::Ready) return false;
    int error = 0;
    socklen_t length = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }

  int Send(SocketHandle socket, const std::uint8_t* bytes, int length) override {
    if (m_aborted) return -1;
    for (;;) {
      const ssize_t sent = send(Fd(socket), bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
      if (sent > 0) return static_cast<int>(sent);
      if (sent < 0 && errno == EINTR) continue;
      if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ||
          Wait(Fd(socket), POLLOUT, SEND_TIMEOUT) != WaitResult::Ready)
        return -1;
    }
  }

  int Receive(SocketHandle socket, std::uint8_t* buffer, int length, Milliseconds timeout) override {
    if (m_aborted) return RECEIVE_FAILED;
    for (;;) {
      const ssize_t received = recv(Fd(socket), buffer, static_cast<size_t>(length), 0);
      if (received >= 0) return static_cast<int>(received);
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return RECEIVE_FAILED;
      const WaitResult waited = Wait(Fd(socket), POLLIN, timeout);
      if (waited != WaitResult::Ready) return ReceiveResultOf(waited);
    }
  }

  void Close(SocketHandle socket) override { close(Fd(socket)); }

  void Abort() override {
    m_aborted = true;
    // Never read back: the counter stays readable, so every wait from now on ends at once too. A
    // write fails only on a counter at its maximum, which is readable already.
    const std::uint64_t one = 1;
    if (m_cancel >= 0) {
      [[maybe_unused]] const ssize_t written = write(m_cancel, &one, sizeof one);
    }
  }

 private:
  static int Fd(SocketHandle socket) { return static_cast<int>(socket); }

  WaitResult Wait(int fd, short events, Milliseconds timeout) const {
    const Deadline deadline(timeout);
    for (;;) {
      if (m_aborted) return WaitResult::Failed;
      pollfd entries[] = {{fd, events, 0}, {m_cancel, POLLIN, 0}};
      const int ready = poll(entries, 2, static_cast<int>(deadline.Left().count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || entries[1].revents != 0) return WaitResult::Failed;
      // An error or hang-up counts as ready: the call that follows reports it.
      return ready == 0 ? WaitResult::TimedOut : WaitResult::Ready;
    }
  }

  const HostResolver m_resolve;
  const int m_cancel;  // an eventfd that Abort makes readable
  std::atomic<bool> m_aborted{false};
};

}  // namespace

std::unique_ptr<SocketApi> MakePlatformSockets(HostResolver resolve) { return std::make_unique<PosixSockets>(resolve); }
