// A library that says so when the process it was loaded into ends by
// itself (ExitProcess, where exit and abort end too): the notice on which a
// DLL's static objects are destroyed, the setup extension's among them.
// TerminateProcess gives none. runtimecheck.exe loads it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID processEnds) {
  if (reason == DLL_PROCESS_DETACH && processEnds != nullptr) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), "detach\n", 7, &written, nullptr);
  }
  return TRUE;
}
