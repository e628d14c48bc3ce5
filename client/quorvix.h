// The tray client: a 16 x 16 button over the browser's menu bar that keeps
// the device's proxy entries and User-Agent value in step with the gateway
// switch while the browser is in use.
#pragma once

#include <string_view>

#include "devicecontrol/device_control.h"
#include "platform/framework/framework.h"

namespace qx {

class CQuorvixDlg;

// The application object: runs the tray window modally for the program's
// whole life.
class CQuorvixApp : public CWinApp {
 public:
  // The build variant fixes the settings key, the player command and the
  // default proxy's port of this edition.
  CQuorvixApp(Platform& platform, const DeviceControlBuild& build);

  BOOL InitInstance() override;

  [[nodiscard]] CDeviceControl& DeviceControl() { return m_deviceControl; }

  // Cleared by the first poll tick of the program; one for the whole
  // program, whatever windows it has.
  BOOL m_bFirstTick = TRUE;

 private:
  CDeviceControl m_deviceControl;
};

// Runs the tray client of the given edition to its end; the program's exit
// code.
int RunQuorvix(Platform& platform, const DeviceControlBuild& build);

}  // namespace qx
