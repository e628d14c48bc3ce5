#include "client/settings_dlg.h"

#include "client/password.h"
#include "client/profile.h"
#include "client/quorvix_dlg.h"
#include "client/resources.h"

namespace qx {

namespace {

// Texts of the account fields are kept in the client's usual fixed buffers.
constexpr std::size_t kMaxFieldChars = 511;

// The account fields and page options follow "Use Quorvix"; the image
// options follow "Show Image" as well, so they are only switched on together.
constexpr int kAccountAndPageControls[] = {IDC_ID, IDC_PASSWORD, IDC_DOC_MORPHING, IDC_SHOW_IMAGE, IDC_SHOW_NAVI};
constexpr int kImageControls[] = {IDC_IMAGE_BOOSTER, IDC_IMAGE_LEVEL};

}  // namespace

CSettingsDlg::CSettingsDlg(CWinApp& app) : CDialog(app, SettingsDialogTemplate()) {}

BOOL CSettingsDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // The browser must not be used while its settings change underneath it.
  EnableBrowser(FALSE);
  windows().CommandBar_Show(m_hWnd, FALSE);
  LoadSettings();
  EnableSettingControls();
  return TRUE;
}

void CSettingsDlg::LoadSettings() {
  CWinApp& profile = app();
  const int useGateway = profile.GetProfileInt(kSection, kUseGateway, 0);
  const std::u16string id = profile.GetProfileString(kSection, kAccountId, u"");
  const std::u16string scrambled = profile.GetProfileString(kSection, kPassword, u"");
  const int doc = profile.GetProfileInt(kSection, kDocMorphing, 1);
  const int useImage = profile.GetProfileInt(kSection, kUseImage, 1);
  const int booster = profile.GetProfileInt(kSection, kImageBooster, 0);
  const int level = profile.GetProfileInt(kSection, kImageLevel, 2);
  const int useNavi = profile.GetProfileInt(kSection, kUseNavi, 1);

  const auto check = [](int flag) { return IsOn(flag) ? BST_CHECKED : BST_UNCHECKED; };
  CheckDlgButton(IDC_USE_GATEWAY, check(useGateway));
  SetDlgItemText(IDC_ID, id);
  SetDlgItemText(IDC_PASSWORD, ScramblePassword(scrambled));
  CheckDlgButton(IDC_DOC_MORPHING, check(doc));
  CheckDlgButton(IDC_SHOW_IMAGE, check(useImage));
  CheckDlgButton(IDC_IMAGE_BOOSTER, check(booster));
  CheckDlgButton(IDC_SHOW_NAVI, check(useNavi));
  // The stored index goes to the list unchecked: one it does not have leaves
  // the list without a selection.
  windows().SendMessageW(GetDlgItem(IDC_IMAGE_LEVEL), CB_SETCURSEL, static_cast<WPARAM>(level), 0);
  EnableImageControls();
}

void CSettingsDlg::SaveSettings() {
  const std::u16string id = GetDlgItemText(IDC_ID, kMaxFieldChars);
  const std::u16string password = GetDlgItemText(IDC_PASSWORD, kMaxFieldChars);
  const auto flag = [this](int control) { return IsDlgButtonChecked(control) == BST_CHECKED ? 1 : 0; };
  const int level = static_cast<int>(windows().SendMessageW(GetDlgItem(IDC_IMAGE_LEVEL), CB_GETCURSEL, 0, 0));

  CWinApp& profile = app();
  profile.WriteProfileInt(kSection, kUseGateway, flag(IDC_USE_GATEWAY));
  profile.WriteProfileString(kSection, kAccountId, id);
  profile.WriteProfileString(kSection, kPassword, ScramblePassword(password));
  profile.WriteProfileInt(kSection, kDocMorphing, flag(IDC_DOC_MORPHING));
  profile.WriteProfileInt(kSection, kUseNavi, flag(IDC_SHOW_NAVI));
  profile.WriteProfileInt(kSection, kUseImage, flag(IDC_SHOW_IMAGE));
  profile.WriteProfileInt(kSection, kImageBooster, flag(IDC_IMAGE_BOOSTER));
  profile.WriteProfileInt(kSection, kImageLevel, level);
}

void CSettingsDlg::EnableSettingControls() {
  if (IsDlgButtonChecked(IDC_USE_GATEWAY) == BST_CHECKED) {
    for (int control : kAccountAndPageControls) EnableDlgItem(control, TRUE);
    EnableImageControls();
  } else {
    for (int control : kAccountAndPageControls) EnableDlgItem(control, FALSE);
    for (int control : kImageControls) EnableDlgItem(control, FALSE);
  }
}

void CSettingsDlg::EnableImageControls() {
  const BOOL enable = IsDlgButtonChecked(IDC_SHOW_IMAGE) == BST_CHECKED ? TRUE : FALSE;
  for (int control : kImageControls) EnableDlgItem(control, enable);
}

void CSettingsDlg::OnImageBooster() {
  // The click has already toggled the box: warn only when it was turned on.
  if (IsDlgButtonChecked(IDC_IMAGE_BOOSTER) == BST_CHECKED) MessageBox(kImageBoosterNotice, kCaption, MB_OK);
}

void CSettingsDlg::OnJoin() {
  if (MessageBox(kJoinQuestion, kCaption, MB_YESNO) != IDYES) return;
  // The tray closes the browser and opens the sign-up page next, so the
  // browser stays disabled and the fields typed so far are dropped.
  m_bJoin = TRUE;
  EndDialog(IDOK);
}

void CSettingsDlg::OnOK() {
  SaveSettings();
  EnableBrowser(TRUE);
  CDialog::OnOK();
}

void CSettingsDlg::OnCancel() {
  EnableBrowser(TRUE);
  CDialog::OnCancel();
}

void CSettingsDlg::EnableBrowser(BOOL enable) {
  // Looked up each time: the browser may have come or gone meanwhile.
  if (const HWND browser = windows().FindWindowW(kBrowserClass, kBrowserTitle)) {
    windows().EnableWindow(browser, enable);
  }
}

bool CSettingsDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static constexpr MessageMapEntry<CSettingsDlg> kMessageMap[] = {
      OnCommand(static_cast<UINT>(IDC_SHOW_IMAGE), &CSettingsDlg::EnableImageControls),
      OnCommand(static_cast<UINT>(IDC_USE_GATEWAY), &CSettingsDlg::EnableSettingControls),
      OnCommand(static_cast<UINT>(IDC_JOIN), &CSettingsDlg::OnJoin),
      OnCommand(static_cast<UINT>(IDC_IMAGE_BOOSTER), &CSettingsDlg::OnImageBooster),
  };
  if (DispatchMessageMap(kMessageMap, this, message, wParam, lParam, result)) return true;
  // OK and Cancel reach OnOK and OnCancel through the dialog's own handling.
  return CDialog::OnWndMsg(message, wParam, lParam, result);
}

}  // namespace qx
