#include "client/profile.h"
#include "client/quorvix.h"
#include "client/quorvix_dlg.h"

namespace qx {

CQuorvixApp::CQuorvixApp(Platform& platform, const DeviceControlBuild& build)
    : CWinApp(platform), m_deviceControl(platform, build) {}

BOOL CQuorvixApp::InitInstance() {
  // The handheld's framework would enable its control container here; the
  // program hosts no controls, and this framework has no such notion.
  SetRegistryKey(kCompanyKey);
  CQuorvixDlg dialog(*this);
  m_pMainWnd = &dialog;
  // No check for a copy that already runs: a second start opens a second,
  // independent window.
  dialog.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}

int RunQuorvix(Platform& platform, const DeviceControlBuild& build) {
  CQuorvixApp app(platform, build);
  app.InitInstance();
  return 0;
}

}  // namespace qx
