#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

// What a screen reader hears of one window. Asked through Active Accessibility (WM_GETOBJECT for
// the client object), the window answers with the system's standard object for its class, so
// that role, state, location and keyboard stay the system's own, wrapped so that the name and
// the value come from hooks: a skinned control paints what the standard object cannot read.
class AccessibleWindow {
 public:
  using Text = std::function<std::string()>;
  struct Texts {
    Text name;
    Text value;
  };

  AccessibleWindow() = default;
  ~AccessibleWindow();
  AccessibleWindow(const AccessibleWindow&) = delete;
  AccessibleWindow& operator=(const AccessibleWindow&) = delete;

  // Answers for `window` from now on, until it is destroyed. An empty hook leaves that text to
  // the standard object.
  bool Attach(HWND window);
  void SetName(Text name) { m_texts->name = std::move(name); }
  void SetValue(Text value) { m_texts->value = std::move(value); }

  // Tell listening screen readers to read the text again.
  void AnnounceNameChange() const { Announce(EVENT_OBJECT_NAMECHANGE); }
  void AnnounceValueChange() const { Announce(EVENT_OBJECT_VALUECHANGE); }

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  LRESULT AnswerGetObject(WPARAM wParam, LPARAM lParam);
  void Announce(DWORD event) const;
  void Detach();

  HWND m_hWnd = nullptr;
  // Shared with every object handed out: a reader may hold one after the window has gone, and
  // then gets the standard answers rather than a call into a control that no longer exists.
  std::shared_ptr<Texts> m_texts = std::make_shared<Texts>();
};
