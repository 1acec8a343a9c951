#pragma once

#include <windows.h>

#include <optional>

// A modal dialog from a template of this module, run by a message loop of its own so that every
// message passes PreTranslateMessage first. The dialog procedure is a switch in the derived
// class (OnMessage); owner-draw and colour messages of bound controls are reflected to them.
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
  // The derived class's handlers. Nothing means the dialog manager's default processing; a value
  // is the message's result.
  virtual std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // Return true when the message has been handled and must not be dispatched.
  virtual bool PreTranslateMessage(MSG& message);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  std::optional<LRESULT> Reflect(UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR Answer(HWND window, UINT message, LRESULT result);

  int m_templateId;
  bool m_ended = false;
  INT_PTR m_result = -1;
};
