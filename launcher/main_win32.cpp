// The media launcher's Windows program, stv.exe, in the edition chosen at
// build time. Its command line is the link or playlist the shell opened,
// whole, without the program's own name, as WinMain receives it on the
// handheld too.
#include "launcher/launcher.h"
#include "platform/win32/win32.h"

#include <windows.h>

#ifndef QX_LAUNCHER_EDITION
#error "QX_LAUNCHER_EDITION (2002 or 2003) names the edition to build"
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
#if QX_LAUNCHER_EDITION == 2003
  const qx::LauncherEdition& edition = qx::kStrevel2003;
#else
  const qx::LauncherEdition& edition = qx::kStrevel2002;
#endif
  const auto* line = reinterpret_cast<const char16_t*>(commandLine);
  qx::Win32Platform device;
  return qx::RunStrevel(device.platform(), edition, line != nullptr ? line : u"");
}
