// The tray client's resources: identifiers, dialogs, the popup menu. The one
// source of truth for both worlds: the simulated device builds its windows
// from these templates, and the Windows resource script is written from them.
#pragma once

#include <span>

#include "platform/platform.h"

namespace qx {

// Dialogs, menu, icons and bitmaps.
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDD_SETTINGS = 135;
inline constexpr int IDD_ABOUT = 152;
inline constexpr int IDR_POPUP_MENU = 129;
inline constexpr int IDI_APP = 128;
inline constexpr int IDI_BUTTON_NORMAL = 133;
inline constexpr int IDI_BUTTON_HOT = 134;
inline constexpr int IDB_LOGO = 155;
inline constexpr int IDB_BANNER = 159;

// Controls.
inline constexpr int IDC_JOIN = 3;
inline constexpr int IDC_ID = 1003;
inline constexpr int IDC_MENU_BUTTON = 1005;
inline constexpr int IDC_DOC_MORPHING = 1008;
inline constexpr int IDC_SHOW_IMAGE = 1009;
inline constexpr int IDC_IMAGE_BOOSTER = 1010;
inline constexpr int IDC_IMAGE_LEVEL = 1011;
inline constexpr int IDC_PASSWORD = 1012;
inline constexpr int IDC_USE_GATEWAY = 1013;
inline constexpr int IDC_SHOW_NAVI = 1014;

// Popup menu commands.
inline constexpr UINT ID_GATEWAY_ON = 32771;
inline constexpr UINT ID_GATEWAY_OFF = 32772;
inline constexpr UINT ID_SETTINGS = 32779;
inline constexpr UINT ID_HOME = 32780;
inline constexpr UINT ID_PORTAL_YAHOO = 32781;
inline constexpr UINT ID_PORTAL_NAVER = 32782;
inline constexpr UINT ID_PORTAL_EMPAS = 32783;
inline constexpr UINT ID_RESET = 32784;
inline constexpr UINT ID_ABOUT = 32788;

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& SettingsDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
const MenuTemplate& PopupMenuTemplate();
// The icons the program carries (the simulated device loads only these).
std::span<const int> ClientIconIds();
std::span<const int> ClientBitmapIds();

}  // namespace qx
