/* A loadable library without the export that the launcher looks for. */
__declspec(dllexport) void __cdecl RunSomethingElse(void) {}
