// The Settings dialog: the gateway switch, the account and the page options,
// shown from and stored to the profile. Applying them is the tray's work
// after the dialog has closed.
#pragma once

#include <string_view>

#include "platform/framework/framework.h"

namespace qx {

// What the dialog tells the user: turning the image booster on, and leaving
// for the sign-up page.
inline constexpr std::u16string_view kImageBoosterNotice =
    u"Image Booster를 사용할 경우 이미지의 크기가 변경될 수 있습니다.";
inline constexpr std::u16string_view kJoinQuestion =
    u"가입 페이지로 이동하시면 현재 설정창은 자동으로 닫힙니다. 가입 페이지로 이동 하시겠습니까 ?";

class CSettingsDlg : public CDialog {
 public:
  explicit CSettingsDlg(CWinApp& app);

  // Set when the user confirmed Join; the tray reads it after DoModal.
  BOOL m_bJoin = FALSE;

  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

  void LoadSettings();
  void SaveSettings();
  void EnableSettingControls();
  void EnableImageControls();
  void OnImageBooster();
  void OnJoin();

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void EnableBrowser(BOOL enable);
};

}  // namespace qx
