#include "screen_reader.h"

#include <oleacc.h>

#include "com_scope.h"
#include "test_support.h"

namespace {

std::string Narrow(BSTR text) {
  if (!text) return "";
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(SysStringLen(text)), nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(SysStringLen(text)), result.data(), length, nullptr, nullptr);
  SysFreeString(text);
  return result;
}

AccessibleReading Read(IAccessible* rawObject) {
  AccessibleReading reading;
  if (!rawObject) return reading;
  const auto object = Owned(rawObject);
  reading.found = true;
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR text = nullptr;
  if (object->get_accName(self, &text) == S_OK) reading.name = Narrow(text);
  text = nullptr;
  if (object->get_accValue(self, &text) == S_OK) reading.value = Narrow(text);
  VARIANT role{};
  if (SUCCEEDED(object->get_accRole(self, &role)) && role.vt == VT_I4) reading.role = role.lVal;
  VariantClear(&role);
  return reading;
}

// Where the system delivers a hook's events: one recorder per thread.
thread_local WinEventRecorder* t_recorder = nullptr;

}  // namespace

AccessibleReading ReadAccessible(HWND window) {
  const ComScope com;
  IAccessible* object = nullptr;
  if (FAILED(
          AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&object))))
    return {};
  return Read(object);
}

AccessibleReading ReadStandardAccessible(HWND window) {
  const ComScope com;
  IAccessible* object = nullptr;
  if (FAILED(CreateStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&object))))
    return {};
  return Read(object);
}

std::string RoleText(long role) {
  char text[64] = {};
  GetRoleTextA(static_cast<DWORD>(role), text, sizeof text);
  return text;
}

WinEventRecorder::WinEventRecorder(DWORD processId)
    : m_ready(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_thread([this, processId] { Run(processId); }) {
  WaitForSingleObject(m_ready, 10000);
}

WinEventRecorder::~WinEventRecorder() {
  if (m_threadId) PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
  if (m_thread.joinable()) m_thread.join();
  CloseHandle(m_ready);
}

void WinEventRecorder::Run(DWORD processId) {
  t_recorder = this;
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, OnEvent, processId,
                                       0, WINEVENT_OUTOFCONTEXT);
  m_hooked = hook != nullptr;
  m_threadId = GetCurrentThreadId();
  SetEvent(m_ready);
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  if (hook) UnhookWinEvent(hook);
}

void CALLBACK WinEventRecorder::OnEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                                        DWORD) {
  if (!t_recorder) return;
  std::lock_guard lock(t_recorder->m_mutex);
  t_recorder->m_events.push_back({event, window, object, child});
}

std::vector<WinEvent> WinEventRecorder::Events() const {
  std::lock_guard lock(m_mutex);
  return m_events;
}

bool WinEventRecorder::WaitFor(DWORD event, HWND window) const {
  return WaitUntil([&] {
    for (const WinEvent& seen : Events())
      if (seen.event == event && seen.window == window && seen.object == OBJID_CLIENT && seen.child == CHILDID_SELF)
        return true;
    return false;
  });
}
