// The C++ runtime is linked into the library, and each load of it starts a runtime of its own:
// its emergency pool for exceptions (about 70 KiB taken from the C runtime's heap, which
// outlives the library) is never given back, so every library swap in one process would leave
// one behind. Once FreeLibrary unloads the library, nothing of this runtime runs again, and the
// pool goes back to the heap. At process exit the system takes everything anyway.
#include <windows.h>

namespace __gnu_cxx {
void __freeres();  // the runtime's own release of that pool
}  // namespace __gnu_cxx

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* processEnding) {
  if (reason == DLL_PROCESS_DETACH && !processEnding) __gnu_cxx::__freeres();
  return TRUE;
}
