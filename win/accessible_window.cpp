#include "accessible_window.h"

#include <commctrl.h>
#include <oleacc.h>

#include <new>
#include <optional>

#include "com_scope.h"

namespace {

// __uuidof rather than IID_IAccessible: MinGW's import library for oleacc names a function stub
// IID_IAccessible, which a link may pick instead of the GUID.
constexpr UINT_PTR SUBCLASS_ID = 2;  // beside the control's own subclass, which is 1

BSTR ToBstr(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (result && length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result, length);
  return result;
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The standard client object of a window with its name and value taken from the hooks. Every
// other question goes to the standard object unchanged. It runs on the window's thread: a reader
// in another process reaches it through the marshalling of the window's apartment.
class AccessibleProxy final : public IAccessible, public IOleWindow {
 public:
  AccessibleProxy(HWND window, ComPointer<IAccessible> standard, std::weak_ptr<AccessibleWindow::Texts> texts)
      : m_hWnd(window), m_standard(std::move(standard)), m_texts(std::move(texts)) {}

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(IAccessible)) {
      *object = static_cast<IAccessible*>(this);
    } else if (iid == IID_IOleWindow) {
      *object = static_cast<IOleWindow*>(this);
    } else {
      // Not IEnumVARIANT: a reader then walks the children with get_accChild, which keeps this
      // object's identity whole.
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_references)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&m_references);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: a call by dispatch id lands on this object's own methods, the overrides included.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override { return m_standard->GetTypeInfoCount(count); }
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return m_standard->GetTypeInfo(index, locale, info);
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
    return m_standard->GetIDsOfNames(iid, names, count, locale, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID /*iid: reserved*/, LCID locale, WORD flags, DISPPARAMS* parameters,
                      VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
    ITypeInfo* rawInfo = nullptr;
    const HRESULT found = m_standard->GetTypeInfo(0, locale, &rawInfo);
    if (FAILED(found)) return found;
    const auto info = Owned(rawInfo);
    return DispInvoke(static_cast<IAccessible*>(this), info.get(), id, flags, parameters, result, exception,
                      argumentError);
  }

  // IAccessible: the two texts of the object itself from the hooks.
  STDMETHODIMP get_accName(VARIANT child, BSTR* name) override {
    if (const auto answer = Hooked(child, &AccessibleWindow::Texts::name, name)) return *answer;
    return m_standard->get_accName(child, name);
  }
  STDMETHODIMP get_accValue(VARIANT child, BSTR* value) override {
    if (const auto answer = Hooked(child, &AccessibleWindow::Texts::value, value)) return *answer;
    return m_standard->get_accValue(child, value);
  }

  // IAccessible: everything else is the system's.
  STDMETHODIMP get_accParent(IDispatch** parent) override { return m_standard->get_accParent(parent); }
  STDMETHODIMP get_accChildCount(LONG* count) override { return m_standard->get_accChildCount(count); }
  STDMETHODIMP get_accChild(VARIANT child, IDispatch** dispatch) override {
    return m_standard->get_accChild(child, dispatch);
  }
  STDMETHODIMP get_accDescription(VARIANT child, BSTR* description) override {
    return m_standard->get_accDescription(child, description);
  }
  STDMETHODIMP get_accRole(VARIANT child, VARIANT* role) override { return m_standard->get_accRole(child, role); }
  STDMETHODIMP get_accState(VARIANT child, VARIANT* state) override { return m_standard->get_accState(child, state); }
  STDMETHODIMP get_accHelp(VARIANT child, BSTR* help) override { return m_standard->get_accHelp(child, help); }
  STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return m_standard->get_accHelpTopic(file, child, topic);
  }
  STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return m_standard->get_accKeyboardShortcut(child, shortcut);
  }
  STDMETHODIMP get_accFocus(VARIANT* child) override { return m_standard->get_accFocus(child); }
  STDMETHODIMP get_accSelection(VARIANT* children) override { return m_standard->get_accSelection(children); }
  STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* action) override {
    return m_standard->get_accDefaultAction(child, action);
  }
  STDMETHODIMP accSelect(LONG flags, VARIANT child) override { return m_standard->accSelect(flags, child); }
  STDMETHODIMP accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
    return m_standard->accLocation(left, top, width, height, child);
  }
  STDMETHODIMP accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return m_standard->accNavigate(direction, start, end);
  }
  STDMETHODIMP accHitTest(LONG x, LONG y, VARIANT* child) override { return m_standard->accHitTest(x, y, child); }
  STDMETHODIMP accDoDefaultAction(VARIANT child) override { return m_standard->accDoDefaultAction(child); }
  STDMETHODIMP put_accName(VARIANT child, BSTR name) override { return m_standard->put_accName(child, name); }
  STDMETHODIMP put_accValue(VARIANT child, BSTR value) override { return m_standard->put_accValue(child, value); }

  // IOleWindow: which window this object stands for (WindowFromAccessibleObject asks).
  STDMETHODIMP GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    *window = m_hWnd;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

 private:
  ~AccessibleProxy() = default;

  // The hook's answer for the object itself, or nothing when the standard object answers.
  std::optional<HRESULT> Hooked(const VARIANT& child, AccessibleWindow::Text AccessibleWindow::Texts::*which,
                                BSTR* text) const {
    if (!IsSelf(child)) return std::nullopt;
    const auto texts = m_texts.lock();  // gone with the window
    if (!texts || !((*texts).*which)) return std::nullopt;
    if (!text) return E_POINTER;
    *text = nullptr;
    try {
      *text = ToBstr(((*texts).*which)());
    } catch (...) {
      return E_FAIL;  // nothing unwinds into the caller's marshalling
    }
    return *text ? S_OK : E_OUTOFMEMORY;
  }

  LONG m_references = 1;
  HWND m_hWnd;
  ComPointer<IAccessible> m_standard;
  std::weak_ptr<AccessibleWindow::Texts> m_texts;
};

}  // namespace

AccessibleWindow::~AccessibleWindow() { Detach(); }

bool AccessibleWindow::Attach(HWND window) {
  if (!window || m_hWnd) return false;
  if (!SetWindowSubclass(window, SubclassProc, SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(this))) return false;
  m_hWnd = window;
  return true;
}

void AccessibleWindow::Detach() {
  if (!m_hWnd) return;
  RemoveWindowSubclass(m_hWnd, SubclassProc, SUBCLASS_ID);
  m_hWnd = nullptr;
  // Objects still held by readers lose the hooks, which may reach into what is being destroyed.
  m_texts = std::make_shared<Texts>(*m_texts);
}

void AccessibleWindow::Announce(DWORD event) const {
  if (m_hWnd) NotifyWinEvent(event, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
}

LRESULT CALLBACK AccessibleWindow::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                DWORD_PTR self) {
  auto* accessible = reinterpret_cast<AccessibleWindow*>(self);
  if (message == WM_NCDESTROY) {
    accessible->Detach();
  } else if (message == WM_GETOBJECT) {
    if (const LRESULT answer = accessible->AnswerGetObject(wParam, lParam)) return answer;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT AccessibleWindow::AnswerGetObject(WPARAM wParam, LPARAM lParam) {
  // The object id travels in the low 32 bits, sign or zero extended as the sender left it.
  if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT) return 0;
  IAccessible* rawStandard = nullptr;
  if (FAILED(CreateStdAccessibleObject(m_hWnd, OBJID_CLIENT, __uuidof(IAccessible),
                                       reinterpret_cast<void**>(&rawStandard))))
    return 0;
  auto standard = Owned(rawStandard);
  auto* proxy = new (std::nothrow) AccessibleProxy(m_hWnd, std::move(standard), m_texts);
  if (!proxy) return 0;
  // The result holds its own reference to the object until the reader takes it.
  const LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(proxy));
  proxy->Release();
  return FAILED(static_cast<HRESULT>(result)) ? 0 : result;
}
