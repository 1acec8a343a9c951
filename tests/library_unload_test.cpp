// The library unloads cleanly: the launcher frees it and loads the next one at every update, in
// one process, so what a load of it takes from the heaps that outlive it must go back when it is
// freed.
#include <windows.h>  // before psapi.h, which needs its types

#include <gtest/gtest.h>
#include <malloc.h>
#include <psapi.h>

#include <filesystem>

namespace {

// Bytes in use in the C runtime's heap, which the runtime linked into the library allocates
// from and which stays with the process.
long long RuntimeHeapInUse() {
  _HEAPINFO entry{};
  long long used = 0;
  while (_heapwalk(&entry) == _HEAPOK)
    if (entry._useflag == _USEDENTRY) used += static_cast<long long>(entry._size);
  return used;
}

// Whatever the library brings in (system libraries, the C runtime) stays loaded from here on,
// so that only the library's own load and unload are measured.
void PinDependencies(HMODULE library) {
  HMODULE modules[1024];
  DWORD bytes = 0;
  ASSERT_TRUE(EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes));
  for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 1024; ++i) {
    if (modules[i] == library) continue;
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(modules[i]), &pinned);
  }
}

bool LoadAndFree(const std::filesystem::path& path) {
  const HMODULE library = LoadLibraryW(path.c_str());
  return library && FreeLibrary(library);
}

TEST(LibraryUnloadTest, LoadsAndUnloadsGiveTheRuntimeHeapBack) {
  const std::filesystem::path library(ORVANE_LIBRARY);
  const HMODULE first = LoadLibraryW(library.c_str());
  ASSERT_NE(first, nullptr);
  PinDependencies(first);
  ASSERT_TRUE(FreeLibrary(first));

  constexpr int LOADS = 50;
  const long long before = RuntimeHeapInUse();
  for (int i = 0; i < LOADS; ++i) ASSERT_TRUE(LoadAndFree(library));
  const long long perLoad = (RuntimeHeapInUse() - before) / LOADS;
  RecordProperty("heap_bytes_per_load", static_cast<int>(perLoad));
  // The runtime's emergency pool for exceptions alone is about 70 KiB a load; the loader's own
  // bookkeeping is a few hundred bytes.
  EXPECT_LT(perLoad, 8 * 1024) << perLoad << " bytes of the runtime heap stay behind at each load";
}

}  // namespace
