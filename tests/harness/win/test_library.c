/* A real library with the export the launcher runs, for the update check's tests. */
__declspec(dllexport) void RunBrennikDll(void* instance, void* module, void* events) {
  (void)instance;
  (void)module;
  (void)events;
}
