#pragma once

#include <windows.h>

#include <utility>

// One move-only owner for every kind of Windows handle. A kind is a traits type with the
// handle type, its invalid value and how to release it. Most traits are empty; a few carry what
// the release needs besides the handle (the window of a GetDC, the PAINTSTRUCT of a BeginPaint).
template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type handle, Traits traits = {}) : m_handle(handle), m_traits(traits) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()), m_traits(other.m_traits) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
      m_traits = other.m_traits;
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Type Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != Traits::Invalid(); }

  // For functions that return a handle through a pointer; releases what is held first.
  Type* Put() {
    Reset();
    return &m_handle;
  }

  Type Release() { return std::exchange(m_handle, Traits::Invalid()); }

  void Reset(Type handle = Traits::Invalid()) {
    if (m_handle != Traits::Invalid()) m_traits.Close(m_handle);
    m_handle = handle;
  }

 private:
  Type m_handle = Traits::Invalid();
  Traits m_traits{};
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;  // events, threads, processes

struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) { CloseHandle(handle); }
};
using FileHandle = UniqueHandle<FileHandleTraits>;

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type key) { RegCloseKey(key); }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type module) { FreeLibrary(module); }
};
using LoadedModule = UniqueHandle<ModuleTraits>;

// GDI objects: bitmaps, brushes, pens, regions, fonts.
template <typename GdiType>
struct GdiObjectTraits {
  using Type = GdiType;
  static Type Invalid() { return nullptr; }
  static void Close(Type object) { DeleteObject(object); }
};
using BitmapHandle = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using BrushHandle = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using PenHandle = UniqueHandle<GdiObjectTraits<HPEN>>;
using RegionHandle = UniqueHandle<GdiObjectTraits<HRGN>>;

// A device context of our own, from CreateCompatibleDC.
struct MemoryDcTraits {
  using Type = HDC;
  static Type Invalid() { return nullptr; }
  static void Close(Type dc) { DeleteDC(dc); }
};
using MemoryDC = UniqueHandle<MemoryDcTraits>;

// A device context borrowed from a window by GetDC or GetWindowDC.
struct WindowDcTraits {
  using Type = HDC;
  HWND window = nullptr;
  static Type Invalid() { return nullptr; }
  void Close(Type dc) const { ReleaseDC(window, dc); }
};
using WindowDC = UniqueHandle<WindowDcTraits>;

inline WindowDC GetClientDC(HWND window) { return WindowDC(GetDC(window), {window}); }
inline WindowDC GetWholeWindowDC(HWND window) { return WindowDC(GetWindowDC(window), {window}); }

// The device context of one WM_PAINT, ended by EndPaint.
struct PaintDcTraits {
  using Type = HDC;
  HWND window = nullptr;
  PAINTSTRUCT paint{};
  static Type Invalid() { return nullptr; }
  void Close(Type) const { EndPaint(window, &paint); }
};
using PaintDC = UniqueHandle<PaintDcTraits>;

inline PaintDC BeginPaintDC(HWND window) {
  PaintDcTraits traits{window, {}};
  HDC dc = BeginPaint(window, &traits.paint);
  return PaintDC(dc, traits);
}

// Memory from GlobalAlloc, as the clipboard takes it.
struct GlobalMemoryTraits {
  using Type = HGLOBAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type memory) { GlobalFree(memory); }
};
using GlobalMemory = UniqueHandle<GlobalMemoryTraits>;

struct MenuTraits {
  using Type = HMENU;
  static Type Invalid() { return nullptr; }
  static void Close(Type menu) { DestroyMenu(menu); }
};
using MenuHandle = UniqueHandle<MenuTraits>;

// Selects an object into a device context and puts the previous one back when it goes out of
// scope. Declare it after the object it selects, so that it deselects before that is deleted.
// Movable, so that it can be returned or kept as a member; a moved-from guard restores nothing.
class Selection {
 public:
  Selection() = default;
  Selection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~Selection() { Restore(); }
  Selection(Selection&& other) noexcept
      : m_dc(std::exchange(other.m_dc, nullptr)), m_previous(std::exchange(other.m_previous, nullptr)) {}
  Selection& operator=(Selection&& other) noexcept {
    if (this != &other) {
      Restore();
      m_dc = std::exchange(other.m_dc, nullptr);
      m_previous = std::exchange(other.m_previous, nullptr);
    }
    return *this;
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

  bool Succeeded() const { return m_previous && m_previous != HGDI_ERROR; }

 private:
  void Restore() {
    if (Succeeded()) SelectObject(m_dc, m_previous);
    m_previous = nullptr;
  }

  HDC m_dc = nullptr;
  HGDIOBJ m_previous = nullptr;
};
