#pragma once

#include <chrono>

#include "net/socket_api.h"

// A wait sleeps on the socket and on the layer's cancel signal together: an abort from another
// thread ends it at once, with no periodic wake-ups while a transfer runs.
enum class WaitResult { Ready, TimedOut, Failed };

// The end of a wait that may be woken early by things that do not end it (a signal, an event of
// no interest), so that each sleep takes only what is left.
class Deadline {
 public:
  explicit Deadline(Milliseconds timeout) : m_end(std::chrono::steady_clock::now() + timeout) {}
  // What is left, rounded up so that a wait never ends before the deadline; 0 once it has passed.
  Milliseconds Left() const {
    const auto left = std::chrono::ceil<Milliseconds>(m_end - std::chrono::steady_clock::now());
    return left.count() > 0 ? left : Milliseconds{0};
  }

 private:
  std::chrono::steady_clock::time_point m_end;
};

// What a receive answers when its wait did not end with data to read.
inline int ReceiveResultOf(WaitResult result) {
  return result == WaitResult::TimedOut ? RECEIVE_TIMED_OUT : RECEIVE_FAILED;
}
