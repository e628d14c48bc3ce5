// The tray client's only window: a borderless 16 x 16 window holding the
// menu button, shown over the browser's menu bar while the browser is in
// front, and a 200 ms poll that follows the browser.
#pragma once

#include "client/icon_button.h"
#include "client/quorvix.h"
#include "platform/framework/framework.h"

namespace qx {

// Messages other programs send to the tray window.
inline constexpr UINT WM_QX_DISABLE_EXIT = WM_USER + 100;  // 1124: gateway off, restart the browser, end
inline constexpr UINT WM_QX_QUERY = WM_USER + 101;         // 1125: the stored switch
inline constexpr UINT WM_QX_SET = WM_USER + 102;           // 1126: switch the gateway

// Fixed geometry of the tray window, in screen pixels.
inline constexpr int kButtonWindowX = 184;
inline constexpr int kButtonWindowY = 299;
inline constexpr int kButtonSize = 16;
inline constexpr POINT kBrowserProbePoint{10, 200};
inline constexpr LONG kFullScreenClientHeight = 300;
inline constexpr UINT_PTR kPollTimerId = 1;
inline constexpr UINT kPollPeriodMs = 200;
inline constexpr std::size_t kDialUpRecords = 20;

inline constexpr std::u16string_view kBrowserClass = u"IExplore";
inline constexpr std::u16string_view kBrowserTitle = u"Internet Explorer";
inline constexpr std::u16string_view kHiddenTitle = u"  ";
inline constexpr std::u16string_view kTasksClass = u"WisMenuDlg";
inline constexpr std::u16string_view kTasksTitle = u"Tasks";
// The account that is also offered the portals and Exit.
inline constexpr std::u16string_view kPortalAccount = u"pelor";

inline constexpr std::u16string_view kResetQuestion =
    u"인터넷 설정 등이 변경되어 Quorvix가 정상 동작하지 않을 때 선택하는 메뉴입니다. 설정값을 재적용하기 위해 "
    u"Internet Explorer를 다시 시작하시겠습니까? ";
inline constexpr std::u16string_view kRestartNotice = u"설정값을 적용하기 위해서 Internet Explorer를 다시 시작합니다.";
inline constexpr std::u16string_view kCaption = u"Quorvix";

class CQuorvixDlg : public CDialog {
 public:
  explicit CQuorvixDlg(CQuorvixApp& app);

  BOOL OnInitDialog() override;
  BOOL DestroyWindow() override;

  void SetGatewayEnabled(bool enable, bool restart);
  void StartPollTimer();
  void StopPollTimer();
  void ShowButtonWindow(bool show);
  void UpdateProxyForBrowser(bool apply);
  void HangUpDialUp();
  void TrackBrowser();
  void OnGatewayOn();
  void OnGatewayOff();

  BOOL m_bProxyApplied = FALSE;
  BOOL m_bFirstShow = TRUE;
  BOOL m_bBusy = FALSE;
  UINT_PTR m_nTimerId = 0;
  BOOL m_bShown = FALSE;
  CIconButton m_btnMenu;

 protected:
  void DoDataExchange() override;
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  // The browser's main window while it is the window in front, else null.
  HWND BrowserInFront();
  void SetUpButton();
  // Hangs up, switches the gateway with a Connection Manager restart, hides
  // the button and starts the browser again; false when message 1124 came
  // in the middle and the rest was dropped.
  bool SwitchAndRestartBrowser(bool enable);
  void ApplyStoredSwitch();
  void OpenPage(std::u16string_view host, std::u16string_view path);

  LRESULT OnSettingChange(WPARAM, LPARAM);
  LRESULT OnTimer(WPARAM, LPARAM);
  LRESULT OnDisableExit(WPARAM, LPARAM);
  LRESULT OnQuery(WPARAM, LPARAM);
  LRESULT OnSet(WPARAM, LPARAM);
  void OnMenuButton();
  void OnReset();
  void OnMinimizeBrowser();
  void OnSettings();
  void OnAbout();
  void OnHome();
  void OnNaver();
  void OnYahoo();
  void OnEmpas();

  CQuorvixApp& m_app;
  CDeviceControl& m_device;
  // Message 1124 has come: the program ends with the gateway off, and what
  // a dialog or question it interrupted would have done next is dropped.
  bool m_bEnding = false;
};

// The about box: texts and pictures only.
class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(CWinApp& app);
};

}  // namespace qx
