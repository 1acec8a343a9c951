#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>

#include "socket_api.h"

// Waits are cut into short slices so that an abort from another thread is seen within one
// slice, on every platform and for every kind of wait (connect included), without relying on
// what closing or shutting down a socket does to a thread blocked on it.
inline constexpr Milliseconds WAIT_SLICE{50};

enum class WaitResult { Ready, TimedOut, Failed };

// pollOnce(slice) answers 1 when ready, 0 when not yet, -1 on failure.
template <typename PollOnce>
WaitResult WaitInSlices(const std::atomic<bool>& aborted, Milliseconds timeout, PollOnce pollOnce) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (aborted.load()) return WaitResult::Failed;
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return WaitResult::TimedOut;
    const int ready = pollOnce(std::min(left, WAIT_SLICE));
    if (ready < 0 || aborted.load()) return WaitResult::Failed;
    if (ready > 0) return WaitResult::Ready;
  }
}

// What a receive answers when its wait did not end with data to read.
inline int ReceiveResultOf(WaitResult result) {
  return result == WaitResult::TimedOut ? RECEIVE_TIMED_OUT : RECEIVE_FAILED;
}
