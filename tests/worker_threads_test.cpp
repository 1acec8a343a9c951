#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "worker_threads.h"

namespace {

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    ++*reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    return 1;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateCountingWindow(int* counter) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = CountingProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "OrvaneWorkerTestWindow";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("OrvaneWorkerTestWindow", "", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(counter));
  return window;
}

TEST(WorkerThreads, JoinDispatchesWhatTheWorkersSendSoNoneCanDeadlock) {
  int handled = 0;
  HWND window = CreateCountingWindow(&handled);
  ASSERT_NE(window, nullptr);
  std::atomic<int> answered{0};
  {
    WorkerThreads workers;
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(workers.Start([&] {
        for (int n = 0; n < 50; ++n) answered += static_cast<int>(SendMessageA(window, WM_APP, 0, 0));
      }));
    }
    workers.Join();  // this thread owns the window and pumps nothing else
    EXPECT_EQ(workers.Running(), 0u);
  }
  EXPECT_EQ(handled, 200);
  EXPECT_EQ(answered, 200);
  DestroyWindow(window);
}

TEST(WorkerThreads, EndedThreadsAreForgotten) {
  WorkerThreads workers;
  std::atomic<bool> release{false};
  ASSERT_TRUE(workers.Start([] {}));
  ASSERT_TRUE(workers.Start([&] {
    while (!release) Sleep(1);
  }));
  while (workers.Running() > 1) Sleep(1);
  EXPECT_EQ(workers.Running(), 1u);
  release = true;
  workers.Join();
  EXPECT_EQ(workers.Running(), 0u);
}

}  // namespace
