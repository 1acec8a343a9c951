/* A stand-in for a system library, planted beside orvane.exe as an attacker would plant it in a
   Downloads folder. It exports what the program's library imports from the real one (doing
   nothing), so that a loader that picks it up gets that far, and leaves the file
   "<name>.loaded" beside itself when it is loaded. Built once per name: PLANTED_NAME is the
   library's name and PLANTED_BCRYPT, PLANTED_COMCTL32 or PLANTED_WINDOWSCODECS its exports. */
/* Without the headers that declare the real ones. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <wchar.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 32];
  const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  wchar_t* lastSeparator = wcsrchr(path, L'\\');
  if (!lastSeparator) return TRUE;
  wcscpy(lastSeparator + 1, PLANTED_NAME L".loaded");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}

#define STUB(name) \
  __declspec(dllexport) LONG_PTR name(void) { return 0; }
#define FAILED_STATUS(name) \
  __declspec(dllexport) LONG name(void) { return (LONG)0xC0000001; }

#ifdef PLANTED_BCRYPT
FAILED_STATUS(BCryptCloseAlgorithmProvider)
FAILED_STATUS(BCryptCreateHash)
FAILED_STATUS(BCryptDestroyHash)
FAILED_STATUS(BCryptDestroyKey)
FAILED_STATUS(BCryptFinishHash)
FAILED_STATUS(BCryptGenRandom)
FAILED_STATUS(BCryptHashData)
FAILED_STATUS(BCryptImportKeyPair)
FAILED_STATUS(BCryptOpenAlgorithmProvider)
/* The forger's prize: every signature verifies. */
__declspec(dllexport) LONG BCryptVerifySignature(void) { return 0; }
#endif

#ifdef PLANTED_COMCTL32
STUB(DefSubclassProc)
STUB(InitCommonControls)
STUB(InitCommonControlsEx)
STUB(RemoveWindowSubclass)
STUB(SetWindowSubclass)
STUB(_TrackMouseEvent)
#endif

#ifdef PLANTED_WINDOWSCODECS
FAILED_STATUS(WICConvertBitmapSource)
FAILED_STATUS(WICCreateBitmapFromSection)
#endif
