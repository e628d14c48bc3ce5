#include "client/quorvix_dlg.h"

#include <algorithm>
#include <array>

#include "client/profile.h"
#include "client/resources.h"
#include "client/settings_dlg.h"

namespace qx {

namespace {

constexpr std::u16string_view kHomePath = u"/pda";
constexpr std::u16string_view kJoinPath = u"/pda/join_provision.html";
constexpr std::u16string_view kSiteRoot = u"/";
// Window trees are walked upwards at most this far: a broken parent chain
// from another program must not hang the poll.
constexpr int kMaxAncestors = 64;

}  // namespace

CQuorvixDlg::CQuorvixDlg(CQuorvixApp& app)
    : CDialog(app, MainDialogTemplate()), m_btnMenu(app.platform()), m_app(app), m_device(app.DeviceControl()) {}

void CQuorvixDlg::DoDataExchange() { DDX_Control(IDC_MENU_BUTTON, m_btnMenu); }

// ---- Start and end --------------------------------------------------------------

BOOL CQuorvixDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyStoredSwitch();
  m_device.SetMediaHandler(TRUE);
  ShowButtonWindow(false);
  StartPollTimer();
  return TRUE;
}

void CQuorvixDlg::ApplyStoredSwitch() {
  // A first start has no value: it counts as on, and 1 is stored.
  const int stored = m_app.GetProfileInt(kSection, kUseGateway, 2);
  SetGatewayEnabled(stored != 0, false);
}

BOOL CQuorvixDlg::DestroyWindow() {
  StopPollTimer();
  UpdateProxyForBrowser(false);
  m_device.SetMediaHandler(FALSE);
  return CDialog::DestroyWindow();
}

void CQuorvixDlg::SetGatewayEnabled(bool enable, bool restart) {
  if (enable) {
    m_device.ConfigureProxies(TRUE, m_device.GatewayHttpProxy(), m_device.GatewaySocksProxy());
  } else {
    m_device.ConfigureProxies(FALSE, u"", u"");
  }
  // Entries switched on count as applied: otherwise a switch made while the
  // browser is away would leave them on until it comes back and goes again.
  if (enable) m_bProxyApplied = TRUE;
  m_app.WriteProfileInt(kSection, kUseGateway, enable ? 1 : 0);
  UpdateUserAgent(m_app, m_device.Build().userAgentKey);
  if (restart) m_device.RestartConnectionManager();
}

// ---- The poll ---------------------------------------------------------------------

void CQuorvixDlg::StartPollTimer() {
  if (m_nTimerId != 0) KillTimer(m_nTimerId);
  m_nTimerId = SetTimer(kPollTimerId, kPollPeriodMs);
}

void CQuorvixDlg::StopPollTimer() {
  if (m_nTimerId != 0) KillTimer(m_nTimerId);
}

HWND CQuorvixDlg::BrowserInFront() {
  const HWND browser = windows().FindWindowW(kBrowserClass, kBrowserTitle);
  if (browser == nullptr) return nullptr;
  HWND window = windows().WindowFromPoint(kBrowserProbePoint);
  for (int depth = 0; window != nullptr && depth < kMaxAncestors; ++depth) {
    if (window == browser) return browser;
    window = windows().GetParent(window);
  }
  return nullptr;
}

void CQuorvixDlg::ShowButtonWindow(bool show) {
  windows().CommandBar_Show(m_hWnd, FALSE);
  if (show) {
    SetWindowText(kBrowserTitle);
    SetWindowPos(HWND_TOPMOST, kButtonWindowX, kButtonWindowY, kButtonSize, kButtonSize,
                 SWP_SHOWWINDOW | SWP_FRAMECHANGED);
    ShowWindow(SW_SHOW);
    m_bShown = TRUE;
  } else {
    SetWindowText(kHiddenTitle);
    const int size = m_bFirstShow ? 0 : kButtonSize;
    SetWindowPos(HWND_BOTTOM, kButtonWindowX, kButtonWindowY, size, size, SWP_HIDEWINDOW | SWP_FRAMECHANGED);
    ShowWindow(SW_HIDE);
    m_bShown = FALSE;
  }
}

void CQuorvixDlg::UpdateProxyForBrowser(bool apply) {
  if (apply && IsOn(m_app.GetProfileInt(kSection, kUseGateway, 0))) {
    if (m_device.IsGatewayProxyActive()) return;
    StopPollTimer();
    m_device.ConfigureProxies(TRUE, m_device.GatewayHttpProxy(), m_device.GatewaySocksProxy());
    StartPollTimer();
    return;
  }
  StopPollTimer();
  m_device.ConfigureProxies(FALSE, u"", u"");
  StartPollTimer();
}

void CQuorvixDlg::SetUpButton() {
  SetWindowPos(HWND_BOTTOM, kButtonWindowX, kButtonWindowY, kButtonSize, kButtonSize,
               SWP_HIDEWINDOW | SWP_FRAMECHANGED);
  m_btnMenu.MoveWindow(0, 0, kButtonSize, kButtonSize, FALSE);
  m_btnMenu.SendMessage(WM_SETFONT, static_cast<WPARAM>(SendMessage(WM_GETFONT)), TRUE);
  m_btnMenu.SetIcons(IDI_BUTTON_HOT, kButtonSize, kButtonSize, IDI_BUTTON_NORMAL, kButtonSize, kButtonSize, 0, 0, 0);
  m_btnMenu.SetBorderDrawing(false, true);
  m_btnMenu.ShowWindow(SW_SHOW);
  m_bFirstShow = FALSE;
}

void CQuorvixDlg::TrackBrowser() {
  if (m_app.m_bFirstTick) {
    m_app.m_bFirstTick = FALSE;
    ShowButtonWindow(false);
    m_bProxyApplied = FALSE;
    UpdateProxyForBrowser(false);
    return;
  }
  m_bBusy = TRUE;
  const HWND browser = BrowserInFront();
  if (browser == nullptr) {
    if (m_bShown) {
      m_bShown = FALSE;
      ShowButtonWindow(false);
    }
    if (m_bProxyApplied) {
      m_bProxyApplied = FALSE;
      UpdateProxyForBrowser(false);
    }
    if (windows().GetForegroundWindow() == m_hWnd) windows().SetForegroundWindow(windows().GetDesktopWindow());
    m_bBusy = FALSE;
    return;
  }
  if (m_bFirstShow) SetUpButton();
  const HWND foreground = windows().GetForegroundWindow();
  if (foreground == m_hWnd || foreground == windows().FindWindowW(kTasksClass, kTasksTitle)) {
    m_bBusy = FALSE;
    return;
  }
  RECT client{};
  windows().GetClientRect(browser, &client);
  const LONG height = client.bottom - client.top;
  if (!m_bProxyApplied) {
    m_bProxyApplied = TRUE;
    UpdateProxyForBrowser(true);
  }
  if (height >= kFullScreenClientHeight) {
    if (m_bShown) ShowButtonWindow(false);
  } else if (!m_bShown) {
    ShowButtonWindow(true);
  }
  m_bBusy = FALSE;
}

// ---- Dial-up -------------------------------------------------------------------------

void CQuorvixDlg::HangUpDialUp() {
  std::array<RASCONN, kDialUpRecords> records{};
  records[0].dwSize = kRasConnRecordSize;
  DWORD bytes = static_cast<DWORD>(kDialUpRecords) * kRasConnRecordSize;
  DWORD count = 0;
  if (platform().dialUp.RasEnumConnectionsW(records, &bytes, &count) != 0 || count == 0) return;
  const std::size_t open = std::min<std::size_t>(count, records.size());
  for (std::size_t i = 0; i < open; ++i) {
    const auto& name = records[i].szEntryName;
    const auto end = std::find(name.begin(), name.end(), u'\0');
    // Connections whose entry name holds a backquote are the device's own
    // and stay up.
    if (std::find(name.begin(), end, u'`') != end) continue;
    if (platform().dialUp.RasHangUpW(records[i].hrasconn) != 0) return;
  }
}

// ---- Commands ----------------------------------------------------------------------

bool CQuorvixDlg::SwitchAndRestartBrowser(bool enable) {
  const bool ending = m_bEnding;
  HangUpDialUp();
  SetGatewayEnabled(enable, true);
  // The restart may have asked the user (no process list): message 1124
  // coming meanwhile has switched off and restarted by itself.
  if (m_bEnding != ending) return false;
  ShowButtonWindow(false);
  // The browser takes the new proxy entries and User-Agent value only when
  // it starts again.
  m_device.CloseBrowser();
  m_device.OpenInBrowser(u"");
  return true;
}

void CQuorvixDlg::OnGatewayOn() {
  StopPollTimer();
  if (SwitchAndRestartBrowser(true)) StartPollTimer();
}

void CQuorvixDlg::OnGatewayOff() {
  StopPollTimer();
  if (SwitchAndRestartBrowser(false)) StartPollTimer();
}

void CQuorvixDlg::OnMenuButton() {
  const HMENU menu = windows().LoadMenuW(PopupMenuTemplate());
  const HMENU popup = windows().GetSubMenu(menu, 0);
  if (popup == nullptr) {
    if (menu != nullptr) windows().DestroyMenu(menu);
    return;
  }
  RECT rect{};
  GetWindowRect(&rect);
  if (IsOn(m_app.GetProfileInt(kSection, kUseGateway, 0))) {
    windows().RemoveMenu(popup, ID_GATEWAY_ON, MF_BYCOMMAND);
    windows().CheckMenuItem(popup, ID_GATEWAY_OFF, MF_BYCOMMAND | MF_CHECKED);
  } else {
    windows().RemoveMenu(popup, ID_GATEWAY_OFF, MF_BYCOMMAND);
  }
  if (m_app.GetProfileString(kSection, kAccountId, u"") != kPortalAccount) {
    for (UINT id : {ID_PORTAL_NAVER, ID_PORTAL_YAHOO, ID_PORTAL_EMPAS, ID_APP_EXIT}) {
      windows().RemoveMenu(popup, id, MF_BYCOMMAND);
    }
  }
  windows().TrackPopupMenu(popup, TPM_RIGHTALIGN | TPM_BOTTOMALIGN, rect.left + kButtonSize, rect.top, m_hWnd);
  windows().DestroyMenu(menu);
}

void CQuorvixDlg::OnReset() {
  if (MessageBox(kResetQuestion, kCaption, MB_OKCANCEL) != IDOK || m_bEnding) return;
  if (IsOn(m_app.GetProfileInt(kSection, kUseGateway, 0))) {
    OnGatewayOn();
  } else {
    OnGatewayOff();
  }
}

void CQuorvixDlg::OnMinimizeBrowser() {
  if (const HWND browser = windows().FindWindowW(kBrowserClass, kBrowserTitle)) {
    windows().ShowWindow(browser, SW_MINIMIZE);
  } else {
    ShowButtonWindow(false);
  }
}

void CQuorvixDlg::OnSettings() {
  StopPollTimer();
  CSettingsDlg settings(m_app);
  const INT_PTR result = settings.DoModal();
  if (m_bEnding) return;
  if (result == IDOK) {
    if (settings.m_bJoin) {
      SetGatewayEnabled(true, true);
      if (m_bEnding) return;
      HangUpDialUp();
      ShowButtonWindow(false);
      m_device.CloseBrowser();
      OpenPage(endpoints::kServiceWebHost, kJoinPath);
    } else {
      MessageBox(kRestartNotice, kCaption, MB_OK);
      if (m_bEnding) return;
      if (IsOn(m_app.GetProfileInt(kSection, kUseGateway, 0))) {
        OnGatewayOn();
      } else {
        OnGatewayOff();
      }
      if (m_bEnding) return;
    }
  }
  StartPollTimer();
}

void CQuorvixDlg::OnAbout() {
  StopPollTimer();
  CAboutDlg about(m_app);
  about.DoModal();
  if (!m_bEnding) StartPollTimer();
}

void CQuorvixDlg::OpenPage(std::u16string_view host, std::u16string_view path) {
  std::u16string url = u"http://";
  url += host;
  url += path;
  m_device.OpenInBrowser(url);
}

void CQuorvixDlg::OnHome() {
  StopPollTimer();
  OpenPage(endpoints::kServiceWebHost, kHomePath);
  StartPollTimer();
}

void CQuorvixDlg::OnNaver() { OpenPage(endpoints::kNaverHost, kSiteRoot); }
void CQuorvixDlg::OnYahoo() { OpenPage(endpoints::kYahooHost, kSiteRoot); }
void CQuorvixDlg::OnEmpas() { OpenPage(endpoints::kEmpasHost, kSiteRoot); }

// ---- Messages ------------------------------------------------------------------------

LRESULT CQuorvixDlg::OnSettingChange(WPARAM, LPARAM) {
  if (BrowserInFront() == nullptr) ShowButtonWindow(false);
  return 0;
}

LRESULT CQuorvixDlg::OnTimer(WPARAM id, LPARAM) {
  // A tick that comes while another runs (through a nested message loop)
  // is dropped.
  if (id == kPollTimerId && !m_bBusy) TrackBrowser();
  return Default();
}

LRESULT CQuorvixDlg::OnDisableExit(WPARAM, LPARAM) {
  // A second message while the first still waits for the user (its own
  // restart asking, say) has nothing left to do.
  if (m_bEnding) return 0;
  m_bEnding = true;
  StopPollTimer();
  SwitchAndRestartBrowser(false);
  // A menu, dialog or question of ours may be open (the message then
  // comes through its loop): it ends as a cancel would, so the program
  // ends now, and what the command it interrupted would have done next is
  // dropped (each checks m_bEnding once its loop returns).
  m_app.CancelOpenDialogs();
  SendMessage(WM_CLOSE);
  return 0;
}

LRESULT CQuorvixDlg::OnQuery(WPARAM, LPARAM) {
  return m_app.GetProfileInt(kSection, kUseGateway, 0);
}

LRESULT CQuorvixDlg::OnSet(WPARAM on, LPARAM) {
  const bool ending = m_bEnding;
  HangUpDialUp();
  SetGatewayEnabled(on != 0, true);
  if (m_bEnding == ending) ShowButtonWindow(false);
  return 1;
}

bool CQuorvixDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static constexpr MessageMapEntry<CQuorvixDlg> kMessageMap[] = {
      OnMessage(WM_SETTINGCHANGE, &CQuorvixDlg::OnSettingChange),
      OnCommand(static_cast<UINT>(IDC_MENU_BUTTON), &CQuorvixDlg::OnMenuButton),
      OnCommand(ID_GATEWAY_ON, &CQuorvixDlg::OnGatewayOn),
      OnCommand(ID_GATEWAY_OFF, &CQuorvixDlg::OnGatewayOff),
      OnCommand(ID_RESET, &CQuorvixDlg::OnReset),
      OnCommand(static_cast<UINT>(IDOK), &CQuorvixDlg::OnMinimizeBrowser),
      OnMessage(WM_TIMER, &CQuorvixDlg::OnTimer),
      OnCommand(ID_SETTINGS, &CQuorvixDlg::OnSettings),
      OnCommand(ID_ABOUT, &CQuorvixDlg::OnAbout),
      OnCommand(ID_HOME, &CQuorvixDlg::OnHome),
      OnMessage(WM_QX_DISABLE_EXIT, &CQuorvixDlg::OnDisableExit),
      OnMessage(WM_QX_QUERY, &CQuorvixDlg::OnQuery),
      OnMessage(WM_QX_SET, &CQuorvixDlg::OnSet),
      OnCommand(ID_PORTAL_EMPAS, &CQuorvixDlg::OnEmpas),
      OnCommand(ID_PORTAL_NAVER, &CQuorvixDlg::OnNaver),
      OnCommand(ID_PORTAL_YAHOO, &CQuorvixDlg::OnYahoo),
  };
  if (DispatchMessageMap(kMessageMap, this, message, wParam, lParam, result)) return true;
  return CDialog::OnWndMsg(message, wParam, lParam, result);
}

// ---- About ---------------------------------------------------------------------------

CAboutDlg::CAboutDlg(CWinApp& app) : CDialog(app, AboutDialogTemplate()) {}

}  // namespace qx
