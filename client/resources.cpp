#include "client/resources.h"

#include "platform/framework/framework.h"

namespace qx {

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// ---- 102: the tray window, a borderless popup holding the menu button.
constexpr ControlTemplate kMainControls[] = {
    {kButtonClass, IDC_MENU_BUTTON, u"", 0, 0, 1, 6, 6, WS_CHILD | WS_TABSTOP, 0, {}},
};
constexpr DialogTemplate kMain{
    IDD_MAIN, u"", WS_POPUP | DS_SETFONT, WS_EX_CAPTIONOKBTN | 0x00040000, 0, 0, 54, 22, u"System", 8,
    kMainControls};

// ---- 135: Settings. The order of the items is the keyboard order.
constexpr std::u16string_view kImageLevels[] = {u"Low", u"Middle", u"High (Default)"};
constexpr ControlTemplate kSettingsControls[] = {
    {kStaticClass, IDC_STATIC, u"ID :", 0, 12, 37, 36, 8, kChild | SS_RIGHT, 0, {}},
    {kEditClass, IDC_ID, u"", 0, 54, 34, 73, 13, kChild | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 0, {}},
    {kStaticClass, IDC_STATIC, u"Password :", 0, 12, 52, 36, 8, kChild | SS_RIGHT, 0, {}},
    {kEditClass, IDC_PASSWORD, u"", 0, 54, 49, 73, 13,
     kChild | WS_BORDER | ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP, 0, {}},
    {kButtonClass, IDC_DOC_MORPHING, u"Office document morphing", 0, 12, 73, 109, 10,
     kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 0, {}},
    {kButtonClass, IDC_SHOW_NAVI, u"Show Navigation Icons", 0, 12, 85, 112, 10, kChild | BS_AUTOCHECKBOX | WS_TABSTOP,
     0, {}},
    {kButtonClass, IDC_SHOW_IMAGE, u"Show Image", 0, 12, 104, 53, 10, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 0, {}},
    {kButtonClass, IDC_IMAGE_BOOSTER, u"Image Booster", 0, 67, 104, 59, 10, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 0,
     {}},
    {kStaticClass, IDC_STATIC, u"Image Lvel :", 0, 12, 119, 40, 8, kChild | SS_LEFT, 0, {}},
    {kComboBoxClass, IDC_IMAGE_LEVEL, u"", 0, 54, 117, 73, 54, kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0,
     kImageLevels},
    {kButtonClass, IDC_JOIN, u"Join", 0, 7, 137, 36, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0, {}},
    {kButtonClass, IDOK, u"OK", 0, 55, 137, 36, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, {}},
    {kButtonClass, IDCANCEL, u"Cancel", 0, 94, 137, 36, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0, {}},
    {kButtonClass, IDC_STATIC, u"", 0, 7, 97, 123, 37, kChild | BS_GROUPBOX, 0, {}},
    {kButtonClass, IDC_STATIC, u"", 0, 7, 27, 123, 39, kChild | BS_GROUPBOX, 0, {}},
    {kStaticClass, IDC_STATIC, u"", IDB_BANNER, 7, 1, 135, 17, kChild | SS_BITMAP, 0, {}},
    {kButtonClass, IDC_STATIC, u"", 0, 7, 65, 123, 32, kChild | BS_GROUPBOX, 0, {}},
    {kButtonClass, IDC_USE_GATEWAY, u"Use Quorvix", 0, 7, 17, 123, 10, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 0, {}},
};
constexpr DialogTemplate kSettings{IDD_SETTINGS,
                                   u"Settings",
                                   DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_SETFONT,
                                   0,
                                   0,
                                   0,
                                   137,
                                   159,
                                   u"System",
                                   8,
                                   kSettingsControls};

// ---- 152: About.
constexpr ControlTemplate kAboutControls[] = {
    {kStaticClass, IDC_STATIC, u"", IDB_BANNER, 0, 0, 135, 17, kChild | SS_BITMAP, 0, {}},
    {kStaticClass, IDC_STATIC, u"", IDI_APP, 8, 24, 21, 20, kChild | SS_ICON, 0, {}},
    {kStaticClass, IDC_STATIC, u"Quorvix v1.0 (1.0.0020)", 0, 36, 28, 92, 8, kChild | SS_LEFT, 0, {}},
    {kStaticClass, IDC_STATIC, u"", IDB_LOGO, 8, 48, 119, 40, kChild | SS_BITMAP, 0, {}},
    {kStaticClass, IDC_STATIC, u"Copyright (C) 2003 Brennic Inc.\nAll rights reserved.", 0, 8, 94, 119, 16,
     kChild | SS_CENTER, 0, {}},
    {kStaticClass, IDC_STATIC, u"help@quorvix.net\nhttp://m.quorvix.net", 0, 8, 112, 119, 16, kChild | SS_CENTER, 0,
     {}},
    {kButtonClass, IDOK, u"확인", 0, 46, 132, 42, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, {}},
};
constexpr DialogTemplate kAbout{IDD_ABOUT,
                                u"Quorvix 정보",
                                DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_SETFONT,
                                0,
                                0,
                                0,
                                135,
                                153,
                                u"System",
                                8,
                                kAboutControls};

// ---- 129: the popup menu (sub-menu 0).
constexpr MenuItemTemplate kPopupEntries[] = {
    {ID_ABOUT, u"About Quorvix", {}},
    {0, u"", {}},
    {ID_SETTINGS, u"Settings", {}},
    {0, u"", {}},
    {ID_GATEWAY_ON, u"Use Quorvix", {}},
    {ID_GATEWAY_OFF, u"Use Quorvix", {}},
    {ID_RESET, u"Reset Quorvix", {}},
    {0, u"", {}},
    {ID_HOME, u"Quorvix Home", {}},
    {ID_PORTAL_NAVER, u"Naver", {}},
    {ID_PORTAL_YAHOO, u"Yahoo", {}},
    {ID_PORTAL_EMPAS, u"Empas", {}},
    {ID_APP_EXIT, u"Exit", {}},
};
constexpr MenuItemTemplate kPopupBar[] = {{0, u"Menu", kPopupEntries}};
constexpr MenuTemplate kPopup{IDR_POPUP_MENU, kPopupBar};

constexpr int kIcons[] = {IDI_APP, IDI_BUTTON_NORMAL, IDI_BUTTON_HOT};
constexpr int kBitmaps[] = {IDB_LOGO, IDB_BANNER};

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMain; }
const DialogTemplate& SettingsDialogTemplate() { return kSettings; }
const DialogTemplate& AboutDialogTemplate() { return kAbout; }
const MenuTemplate& PopupMenuTemplate() { return kPopup; }
std::span<const int> ClientIconIds() { return kIcons; }
std::span<const int> ClientBitmapIds() { return kBitmaps; }

}  // namespace qx
