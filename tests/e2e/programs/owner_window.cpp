// The backend check's one window of its own, made with Win32 directly: the
// platform makes windows only from the program's dialog resources.
#include "platform/platform.h"

#include <windows.h>

qx::HWND OwnerWindow() {
  return reinterpret_cast<qx::HWND>(::CreateWindowW(L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 60, 40, nullptr,
                                                    nullptr, nullptr, nullptr));
}
