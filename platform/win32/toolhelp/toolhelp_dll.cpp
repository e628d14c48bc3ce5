// The one export of the stand-in "toolhelp.dll" with code of its own; the
// others are forwarders (see toolhelp.def).
#include <windows.h>

extern "C" BOOL WINAPI CloseToolhelp32Snapshot(HANDLE snapshot) { return CloseHandle(snapshot); }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
