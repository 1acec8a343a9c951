#pragma once

#include <objbase.h>

#include <memory>

struct ComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using ComPointer = std::unique_ptr<Interface, ComRelease>;

template <typename Interface>
ComPointer<Interface> Owned(Interface* object) {
  return ComPointer<Interface>(object);
}

// COM on this thread, in a single-threaded apartment, for the scope's length. A thread that
// already has it in another mode keeps that mode (CoInitializeEx then fails) and is not
// uninitialised here.
class ComScope {
 public:
  ComScope() : m_initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (m_initialized) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool m_initialized;
};
