// The tray client's Windows program: Quorvix.exe (Pocket PC 2002 edition)
// or Quorvix2003.exe (Windows Mobile 2003 edition), chosen at build time.
// The program's name, and with it its profile key, comes from its file name
// as on the handheld.
#include "client/quorvix.h"
#include "platform/win32/win32.h"

#include <windows.h>

#ifndef QX_CLIENT_EDITION
#error "QX_CLIENT_EDITION (2002 or 2003) names the edition to build"
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
#if QX_CLIENT_EDITION == 2003
  const qx::DeviceControlBuild& build = qx::kClient2003Build;
#else
  const qx::DeviceControlBuild& build = qx::kClient2002Build;
#endif
  qx::Win32Platform device;
  return qx::RunQuorvix(device.platform(), build);
}
