#include "worker_threads.h"

#include <memory>

namespace {

DWORD WINAPI RunRoutine(void* parameter) {
  const std::unique_ptr<std::function<void()>> routine(static_cast<std::function<void()>*>(parameter));
  (*routine)();
  return 0;
}

bool HasEnded(const KernelHandle& thread) { return WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0; }

}  // namespace

bool WorkerThreads::Start(std::function<void()> routine) {
  ForgetEnded();
  auto owned = std::make_unique<std::function<void()>>(std::move(routine));
  KernelHandle thread(CreateThread(nullptr, 0, RunRoutine, owned.get(), 0, nullptr));
  if (!thread) return false;
  owned.release();  // the thread owns it now
  m_threads.push_back(std::move(thread));
  return true;
}

void WorkerThreads::Join() {
  for (const KernelHandle& thread : m_threads) {
    HANDLE handle = thread.Get();
    // Messages sent to this thread's windows wake the wait and are dispatched by the peek.
    while (MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
  m_threads.clear();
}

std::size_t WorkerThreads::Running() {
  ForgetEnded();
  return m_threads.size();
}

void WorkerThreads::ForgetEnded() { std::erase_if(m_threads, HasEnded); }
