#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "handle.h"

// The threads a window starts. They are never killed: the owner makes them stop (a flag, an
// aborted socket) and then joins them with Join, which keeps dispatching the messages the
// workers send to the owner's windows, so a worker blocked in SendMessage can always finish.
class WorkerThreads {
 public:
  WorkerThreads() = default;
  ~WorkerThreads() { Join(); }
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;

  // False when the thread could not be created; the routine then never runs.
  bool Start(std::function<void()> routine);

  // Waits for every started thread to end. Call it on the thread that owns the windows the
  // workers send to.
  void Join();

  std::size_t Running();

 private:
  void ForgetEnded();

  std::vector<KernelHandle> m_threads;
};
