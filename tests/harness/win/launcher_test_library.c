/* A library for the launcher's tests. It runs like the real one, on the launcher's loader thread,
   and does what the file "script.txt" of the program folder says for the run it is: line n is the
   action of run n (from 0). Every run appends one line to "runs.log": the library's tag,
   whether the launcher passed what it must and, when the environment lists refused updates,
   " refused=" and that list.
     exit            signal the exit event (also the action of a run without a line)
     update          copy "update-source.dll" to "BrennikDllUpdate.dll", signal the update event
     update V        the same, naming the update's version V in the environment as the real
                     library does
     offer V         what the real library does with an offer of version V: "update V", unless
                     the launcher refused V (or every update) earlier in this process, then "exit"
     signal-update   signal the update event without writing an update
     wait-release    wait until the file "release" appears, then signal the exit event
     return          return without signalling anything */
#include <windows.h>

#include <string.h>
#include <wchar.h>

#ifndef TEST_LIBRARY_TAG
#define TEST_LIBRARY_TAG "first"
#endif

#define PATH_CAPACITY 32768

static HMODULE g_self;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}

/* The program folder in the extended form, so that a folder of any length works. */
static wchar_t g_folder[PATH_CAPACITY];

static void FolderFile(wchar_t* path, const wchar_t* name) {
  wcscpy(path, g_folder);
  wcscat(path, L"\\");
  wcscat(path, name);
}

/* The whole file, NUL-terminated; the length is 0 when there is none. */
static DWORD ReadWholeFile(const wchar_t* name, char* buffer, DWORD capacity) {
  wchar_t path[PATH_CAPACITY];
  FolderFile(path, name);
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  DWORD length = 0;
  if (file != INVALID_HANDLE_VALUE) {
    if (!ReadFile(file, buffer, capacity - 1, &length, NULL)) length = 0;
    CloseHandle(file);
  }
  buffer[length] = '\0';
  return length;
}

static int CountLines(const char* text) {
  int lines = 0;
  for (; *text; ++text) {
    if (*text == '\n') ++lines;
  }
  return lines;
}

/* Line `index` of the script, without its line end. */
static void ScriptAction(int index, char* action, size_t capacity) {
  char script[4096];
  ReadWholeFile(L"script.txt", script, sizeof script);
  const char* line = script;
  for (int i = 0; i < index && line; ++i) {
    line = strchr(line, '\n');
    if (line) ++line;
  }
  action[0] = '\0';
  if (!line) return;
  size_t length = strcspn(line, "\r\n");
  if (length >= capacity) length = capacity - 1;
  memcpy(action, line, length);
  action[length] = '\0';
}

static void AppendRun(const char* text) {
  wchar_t path[PATH_CAPACITY];
  FolderFile(path, L"runs.log");
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
  CloseHandle(file);
}

/* The refused updates of this process, empty when there are none. */
static void RefusedUpdates(wchar_t* list, DWORD capacity) {
  const DWORD length = GetEnvironmentVariableW(L"OrvaneRefusedUpdates", list, capacity);
  if (length == 0 || length >= capacity) list[0] = L'\0';
}

static int IsRefused(const wchar_t* version) {
  wchar_t list[1024];
  RefusedUpdates(list, 1024);
  const size_t length = wcslen(version);
  for (const wchar_t* item = list; *item;) {
    const size_t itemLength = wcscspn(item, L";");
    if ((itemLength == 1 && item[0] == L'*') || (itemLength == length && wcsncmp(item, version, length) == 0)) return 1;
    item += itemLength;
    if (*item == L';') ++item;
  }
  return 0;
}

static void OfferUpdate(HANDLE* launcherEvents, const char* version) {
  wchar_t source[PATH_CAPACITY], update[PATH_CAPACITY];
  FolderFile(source, L"update-source.dll");
  FolderFile(update, L"BrennikDllUpdate.dll");
  CopyFileW(source, update, FALSE);
  if (version[0]) {
    wchar_t wide[64];
    MultiByteToWideChar(CP_UTF8, 0, version, -1, wide, 64);
    SetEnvironmentVariableW(L"OrvaneUpdateVersion", wide);
  }
  SetEvent(launcherEvents[1]);
}

static int EventUnsignalled(HANDLE event) { return event && WaitForSingleObject(event, 0) == WAIT_TIMEOUT; }

static void WaitForRelease(void) {
  wchar_t path[PATH_CAPACITY];
  FolderFile(path, L"release");
  for (int i = 0; i < 6000 && GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
}

__declspec(dllexport) void __cdecl RunBrennikDll(HINSTANCE launcherInstance, HMODULE libraryModule,
                                                 HANDLE* launcherEvents) {
  wcscpy(g_folder, L"\\\\?\\");
  GetModuleFileNameW(g_self, g_folder + 4, PATH_CAPACITY - 4);
  wchar_t* lastSeparator = wcsrchr(g_folder, L'\\');
  if (lastSeparator) *lastSeparator = L'\0';

  static char log[65536];
  ReadWholeFile(L"runs.log", log, sizeof log);
  const int runIndex = CountLines(log);

  const int argumentsRight = launcherInstance == GetModuleHandleA(NULL) && libraryModule == g_self && launcherEvents &&
                             EventUnsignalled(launcherEvents[0]) && EventUnsignalled(launcherEvents[1]);
  char line[1200];
  strcpy(line, TEST_LIBRARY_TAG);
  strcat(line, argumentsRight ? " arguments-right" : " arguments-wrong");
  wchar_t refused[1024];
  RefusedUpdates(refused, 1024);
  if (refused[0]) {
    strcat(line, " refused=");
    WideCharToMultiByte(CP_UTF8, 0, refused, -1, line + strlen(line), 1024, NULL, NULL);
  }
  strcat(line, "\n");
  AppendRun(line);

  char action[64];
  ScriptAction(runIndex, action, sizeof action);
  /* "word" or "word argument" */
  char* argument = strchr(action, ' ');
  if (argument)
    *argument++ = '\0';
  else
    argument = action + strlen(action);
  if (strcmp(action, "update") == 0) {
    OfferUpdate(launcherEvents, argument);
  } else if (strcmp(action, "offer") == 0) {
    wchar_t version[64];
    MultiByteToWideChar(CP_UTF8, 0, argument, -1, version, 64);
    if (IsRefused(version))
      SetEvent(launcherEvents[0]);
    else
      OfferUpdate(launcherEvents, argument);
  } else if (strcmp(action, "signal-update") == 0) {
    SetEvent(launcherEvents[1]);
  } else if (strcmp(action, "return") == 0) {
    return;
  } else {
    if (strcmp(action, "wait-release") == 0) WaitForRelease();
    SetEvent(launcherEvents[0]);
  }
}
