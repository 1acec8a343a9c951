#pragma once

#include <windows.h>

#include <optional>

// A modal dialog from a template of this module, run by a message loop of its own so that every
// message passes PreTranslateMessage first. The dialog procedure unpacks each message once and
// calls the typed handler for it; owner-draw, colour and command notifications of bound controls
// are reflected to them first.
class Dialog {
 public:
  explicit Dialog(int templateId) : m_templateId(templateId) {}
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // The result passed to EndDialog, or -1 when the window cannot be created.
  INT_PTR DoModal(HWND parent = nullptr);
  void EndDialog(INT_PTR result);

  HWND Handle() const { return m_hWnd; }

 protected:
  // The typed handlers. Each one does nothing unless overridden, and the message then gets the
  // dialog manager's default processing where it has one.
  virtual BOOL OnInitDialog() { return TRUE; }  // TRUE: the system sets the focus
  virtual void OnCommand(int /*id*/, int /*code*/, HWND /*control*/) {}
  virtual void OnTimer(UINT_PTR /*id*/) {}
  virtual bool OnPaint() { return false; }  // true when painted
  virtual void OnDestroy() {}
  virtual void OnLButtonDown(POINT /*point*/) {}
  virtual void OnLButtonUp(POINT /*point*/) {}
  virtual void OnMouseMove(POINT /*point*/) {}
  // The background of an edit or static control that did not answer itself; null: the default.
  virtual HBRUSH OnCtlColor(HDC /*dc*/, HWND /*control*/) { return nullptr; }
  // Every other message. Nothing means the default processing; a value is the message's result.
  virtual std::optional<LRESULT> OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return std::nullopt;
  }
  // Return true when the message has been handled and must not be dispatched.
  virtual bool PreTranslateMessage(MSG& message);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  std::optional<LRESULT> Reflect(UINT message, WPARAM wParam, LPARAM lParam);
  std::optional<LRESULT> Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void FollowFocusCues();
  static INT_PTR Answer(HWND window, UINT message, LRESULT result);

  int m_templateId;
  bool m_ended = false;
  INT_PTR m_result = -1;
};
