// Pranset.dll's exports: the installer's four hooks with its signatures,
// plain C names and the default calling convention of its header. Each hook
// hands over to the one CPranset of the library, over the Win32 services.
#include "setup/pranset.h"
#include "platform/win32/win32.h"

#include <cwchar>

#include <windows.h>

namespace {

qx::CPranset& Setup() {
  // Made on first use, on the installer's thread: the hooks run one at a
  // time, and nothing is done while the library loads.
  static qx::Win32Platform device;
  static qx::CPranset setup(device.platform());
  return setup;
}

std::u16string_view Text(LPCWSTR text) {
  if (text == nullptr) return {};
  return {reinterpret_cast<const char16_t*>(text), std::wcslen(text)};
}

qx::HWND Window(HWND hwnd) { return reinterpret_cast<qx::HWND>(hwnd); }

}  // namespace

extern "C" {

int Install_Init(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installDir) {
  return Setup().Install_Init(Window(parent), firstCall, previouslyInstalled, Text(installDir));
}

int Install_Exit(HWND parent, LPCWSTR installDir, WORD failedDirs, WORD failedFiles, WORD failedRegKeys,
                 WORD failedRegVals, WORD failedShortcuts) {
  return Setup().Install_Exit(Window(parent), Text(installDir), failedDirs, failedFiles, failedRegKeys,
                              failedRegVals, failedShortcuts);
}

int Uninstall_Init(HWND parent, LPCWSTR installDir) {
  return Setup().Uninstall_Init(Window(parent), Text(installDir));
}

int Uninstall_Exit(HWND parent) { return Setup().Uninstall_Exit(Window(parent)); }

}  // extern "C"
