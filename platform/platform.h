// The handheld's operating system as the deliverables see it.
//
// Every service mirrors the Win32 call of the same name (the W suffix marks
// the calls that Win32 has in an A and a W form), with C++ types in the
// signatures. Behaviour the programs depend on keeps Win32's shape: error
// codes, byte counts, handle lifetimes. Two backends implement it: the
// simulated device (platform/sim) and real Win32 (platform/win32).
//
// Deliverables receive a Platform by reference and never include a backend.
// A translation unit that also includes <windows.h> must include this header
// first: the constants below carry Win32's names and values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qx {

// ---- Basic types -----------------------------------------------------------

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using COLORREF = DWORD;
using REGSAM = DWORD;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// Opaque handles. Each backend gives them its own meaning; zero is "none".
struct HKEY__;
using HKEY = HKEY__*;
struct HWND__;
using HWND = HWND__*;
struct HMENU__;
using HMENU = HMENU__*;
struct HICON__;
using HICON = HICON__*;
struct HDC__;
using HDC = HDC__*;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;
struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
struct HRASCONN__;
using HRASCONN = HRASCONN__*;
using HANDLE = void*;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

struct POINT {
  LONG x = 0;
  LONG y = 0;
  friend bool operator==(const POINT&, const POINT&) = default;
};

struct RECT {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
  friend bool operator==(const RECT&, const RECT&) = default;
};

constexpr bool PtInRect(const RECT& r, POINT p) {
  return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}

// ---- Error codes -----------------------------------------------------------

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MOD_NOT_FOUND = 126;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_BUFFER_TOO_SMALL = 603;
inline constexpr LONG ERROR_INVALID_WINDOW_HANDLE = 1400;

// ---- Registry --------------------------------------------------------------

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000});
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});

inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
inline constexpr REGSAM KEY_READ = 0x20019;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Key and value names compare without regard to case and keep the case they
// were created with. The empty value name is the key's default value.
class IRegistry {
 public:
  virtual ~IRegistry() = default;

  // Opens an existing key; fails with ERROR_FILE_NOT_FOUND when any part of
  // the path is missing. *result is untouched on failure.
  [[nodiscard]] virtual LONG RegOpenKeyExW(HKEY key, std::u16string_view subKey, REGSAM access,
                                           HKEY* result) = 0;
  // Opens the key, creating every missing part of the path.
  [[nodiscard]] virtual LONG RegCreateKeyExW(HKEY key, std::u16string_view subKey, REGSAM access,
                                             HKEY* result, DWORD* disposition) = 0;
  // Reads a value. On ERROR_SUCCESS, *type and *size (bytes) are set and the
  // bytes are in data. A data span smaller than the value gives
  // ERROR_MORE_DATA with *type and *size set and data untouched; a span with
  // no storage (data.data() == nullptr) asks for type and size only.
  [[nodiscard]] virtual LONG RegQueryValueExW(HKEY key, std::u16string_view name, DWORD* type,
                                              std::span<BYTE> data, DWORD* size) = 0;
  // Stores exactly these bytes under this type.
  virtual LONG RegSetValueExW(HKEY key, std::u16string_view name, DWORD type,
                              std::span<const BYTE> data) = 0;
  // Names the sub-key at index. name holds room for the name and its
  // terminator; *length receives the characters without terminator.
  // ERROR_NO_MORE_ITEMS past the end, ERROR_MORE_DATA when name is too small.
  [[nodiscard]] virtual LONG RegEnumKeyExW(HKEY key, DWORD index, std::span<char16_t> name,
                                           DWORD* length) = 0;
  // Deletes the key with everything below it, as the handheld does.
  virtual LONG RegDeleteKeyW(HKEY key, std::u16string_view subKey) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;
};

// ---- Windows, messages, timers --------------------------------------------

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_ACTIVATE = 0x0006;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_ENABLE = 0x000A;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_SETTINGCHANGE = 0x001A;
inline constexpr UINT WM_CANCELMODE = 0x001F;
inline constexpr UINT WM_DRAWITEM = 0x002B;
inline constexpr UINT WM_SETFONT = 0x0030;
inline constexpr UINT WM_GETFONT = 0x0031;
inline constexpr UINT WM_GETDLGCODE = 0x0087;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_CTLCOLORBTN = 0x0135;
inline constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_MOUSELEAVE = 0x02A3;
inline constexpr UINT WM_USER = 0x0400;

inline constexpr UINT BM_GETCHECK = 0x00F0;
inline constexpr UINT BM_SETCHECK = 0x00F1;
inline constexpr UINT BM_GETSTATE = 0x00F2;
inline constexpr UINT BM_SETSTATE = 0x00F3;
inline constexpr UINT BM_SETSTYLE = 0x00F4;
inline constexpr UINT BM_CLICK = 0x00F5;

inline constexpr UINT EM_LIMITTEXT = 0x00C5;

inline constexpr UINT CB_GETCOUNT = 0x0146;
inline constexpr UINT CB_GETCURSEL = 0x0147;
inline constexpr UINT CB_ADDSTRING = 0x0143;
inline constexpr UINT CB_SETCURSEL = 0x014E;
inline constexpr LRESULT CB_ERR = -1;

inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT BST_UNCHECKED = 0;
inline constexpr UINT BST_CHECKED = 1;
inline constexpr UINT BST_PUSHED = 0x0004;

inline constexpr DWORD BS_PUSHBUTTON = 0x0;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
inline constexpr DWORD BS_AUTOCHECKBOX = 0x3;
inline constexpr DWORD BS_GROUPBOX = 0x7;
inline constexpr DWORD BS_OWNERDRAW = 0xB;
inline constexpr DWORD BS_TYPEMASK = 0x1F;

inline constexpr LRESULT DLGC_DEFPUSHBUTTON = 0x0010;
inline constexpr LRESULT DLGC_UNDEFPUSHBUTTON = 0x0020;
inline constexpr LRESULT DLGC_BUTTON = 0x2000;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_TYPEMASK = 0xF;

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;

inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOREDRAW = 0x0008;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;
inline constexpr UINT SWP_FRAMECHANGED = 0x0020;
inline constexpr UINT SWP_SHOWWINDOW = 0x0040;
inline constexpr UINT SWP_HIDEWINDOW = 0x0080;

inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_BOTTOM = reinterpret_cast<HWND>(std::intptr_t{1});
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(std::intptr_t{-1});
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(std::intptr_t{-2});

inline constexpr UINT MF_BYCOMMAND = 0x0000;
inline constexpr UINT MF_BYPOSITION = 0x0400;
inline constexpr UINT MF_UNCHECKED = 0x0000;
inline constexpr UINT MF_CHECKED = 0x0008;
inline constexpr UINT TPM_RIGHTALIGN = 0x0008;
inline constexpr UINT TPM_BOTTOMALIGN = 0x0020;

inline constexpr UINT ODS_SELECTED = 0x0001;
inline constexpr UINT ODS_DISABLED = 0x0004;
inline constexpr UINT ODS_FOCUS = 0x0010;

inline constexpr int COLOR_BTNFACE = 15;
inline constexpr int COLOR_BTNSHADOW = 16;
inline constexpr int COLOR_BTNTEXT = 18;
inline constexpr int COLOR_BTNHIGHLIGHT = 20;
// The handheld's flag that turns a system colour index into a COLORREF that
// follows the colour scheme.
inline constexpr COLORREF SYS_COLOR_INDEX_FLAG = 0x40000000;

inline constexpr int NULL_BRUSH = 5;
inline constexpr UINT IMAGE_BITMAP = 0;
inline constexpr UINT IMAGE_ICON = 1;
inline constexpr UINT DI_NORMAL = 0x0003;

struct MSG {
  HWND hwnd = nullptr;
  UINT message = WM_NULL;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

struct DRAWITEMSTRUCT {
  UINT CtlType = 0;
  UINT CtlID = 0;
  UINT itemAction = 0;
  UINT itemState = 0;
  HWND hwndItem = nullptr;
  HDC hDC = nullptr;
  RECT rcItem{};
};

inline constexpr WORD LOWORD(std::uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
inline constexpr WORD HIWORD(std::uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
inline constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) {
  return static_cast<WPARAM>(lo) | (static_cast<WPARAM>(hi) << 16);
}
inline constexpr LPARAM MAKELPARAM(int x, int y) {
  return static_cast<LPARAM>((static_cast<DWORD>(static_cast<WORD>(x))) |
                             (static_cast<DWORD>(static_cast<WORD>(y)) << 16));
}
inline constexpr int GET_X_LPARAM(LPARAM l) { return static_cast<short>(LOWORD(static_cast<std::uintptr_t>(l))); }
inline constexpr int GET_Y_LPARAM(LPARAM l) { return static_cast<short>(HIWORD(static_cast<std::uintptr_t>(l))); }

using TIMERPROC = void (*)(HWND, UINT message, UINT_PTR id, DWORD time);
using WNDENUMPROC = BOOL (*)(HWND, LPARAM);

// Receives the messages of a window that the framework owns. Returning false
// hands the message to the window's default processing.
class IWindowHandler {
 public:
  virtual ~IWindowHandler() = default;
  virtual bool HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;
};

// ---- Resources ---------------------------------------------------------------
//
// A program's dialogs and menus as data: the simulated device builds its
// windows from them and the Win32 resource script is written from them, so
// both worlds show the same controls.

inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_VSCROLL = 0x00200000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_GROUP = 0x00020000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_EX_TOPMOST = 0x00000008;
inline constexpr DWORD WS_EX_CAPTIONOKBTN = 0x80000000;
inline constexpr DWORD WS_EX_NODRAG = 0x40000000;
inline constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
inline constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
inline constexpr DWORD DS_SETFONT = 0x40;
inline constexpr DWORD DS_MODALFRAME = 0x80;
inline constexpr DWORD DS_CENTER = 0x800;
inline constexpr DWORD ES_LEFT = 0x0000;
inline constexpr DWORD ES_PASSWORD = 0x0020;
inline constexpr DWORD ES_AUTOHSCROLL = 0x0080;
inline constexpr DWORD SS_LEFT = 0x0000;
inline constexpr DWORD SS_CENTER = 0x0001;
inline constexpr DWORD SS_RIGHT = 0x0002;
inline constexpr DWORD SS_ICON = 0x0003;
inline constexpr DWORD SS_BITMAP = 0x000E;
inline constexpr DWORD SS_TYPEMASK = 0x001F;
inline constexpr DWORD CBS_DROPDOWNLIST = 0x0003;

inline constexpr int IDC_STATIC = -1;

// The window classes of dialog controls.
inline constexpr std::u16string_view kButtonClass = u"BUTTON";
inline constexpr std::u16string_view kEditClass = u"EDIT";
inline constexpr std::u16string_view kStaticClass = u"STATIC";
inline constexpr std::u16string_view kComboBoxClass = u"COMBOBOX";
// Dialogs and message boxes are windows of this class on the handheld.
inline constexpr std::u16string_view kDialogClass = u"Dialog";

struct ControlTemplate {
  std::u16string_view className;
  int id = IDC_STATIC;
  std::u16string_view text;  // caption; empty for images
  int imageId = 0;           // bitmap or icon resource of an image static
  short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  DWORD style = 0;
  DWORD exStyle = 0;
  std::span<const std::u16string_view> items;  // initial entries of a list
};

struct DialogTemplate {
  int id = 0;
  std::u16string_view caption;
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::u16string_view font;
  short pointSize = 0;
  std::span<const ControlTemplate> controls;
};

struct MenuItemTemplate {
  UINT id = 0;  // 0 with empty text: a separator
  std::u16string_view text;
  std::span<const MenuItemTemplate> popup;  // entries of a sub-menu
};

struct MenuTemplate {
  int id = 0;
  std::span<const MenuItemTemplate> items;
};

class IWindows {
 public:
  virtual ~IWindows() = default;

  // Finding windows. Only top-level windows are searched by class and title.
  virtual HWND FindWindowW(std::u16string_view className, std::u16string_view title) = 0;
  virtual HWND WindowFromPoint(POINT point) = 0;
  virtual HWND GetParent(HWND hwnd) = 0;
  virtual HWND GetForegroundWindow() = 0;
  virtual BOOL SetForegroundWindow(HWND hwnd) = 0;
  virtual HWND GetDesktopWindow() = 0;
  virtual BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam) = 0;
  // The calling program's own top-level windows, front first: its dialogs
  // and message boxes, owned or not.
  virtual BOOL EnumThreadWindows(WNDENUMPROC proc, LPARAM lParam) = 0;
  virtual BOOL IsWindow(HWND hwnd) = 0;
  virtual BOOL IsWindowVisible(HWND hwnd) = 0;
  virtual BOOL IsWindowEnabled(HWND hwnd) = 0;
  // Copies at most text.size() - 1 characters and a terminator; returns the
  // characters copied.
  virtual int GetClassNameW(HWND hwnd, std::span<char16_t> text) = 0;
  virtual int GetWindowTextW(HWND hwnd, std::span<char16_t> text) = 0;
  virtual BOOL SetWindowTextW(HWND hwnd, std::u16string_view text) = 0;
  virtual BOOL GetWindowRect(HWND hwnd, RECT* rect) = 0;
  virtual BOOL GetClientRect(HWND hwnd, RECT* rect) = 0;
  virtual BOOL ScreenToClient(HWND hwnd, POINT* point) = 0;
  virtual BOOL GetCursorPos(POINT* point) = 0;
  virtual LONG GetWindowStyle(HWND hwnd) = 0;
  virtual void SetWindowStyle(HWND hwnd, LONG style) = 0;

  // Changing windows.
  virtual BOOL ShowWindow(HWND hwnd, int command) = 0;
  virtual BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) = 0;
  virtual BOOL MoveWindow(HWND hwnd, int x, int y, int cx, int cy, BOOL repaint) = 0;
  virtual BOOL EnableWindow(HWND hwnd, BOOL enable) = 0;
  virtual BOOL DestroyWindow(HWND hwnd) = 0;
  virtual HWND SetFocus(HWND hwnd) = 0;
  virtual HWND GetFocus() = 0;
  virtual BOOL InvalidateRect(HWND hwnd, BOOL erase) = 0;
  // Hides the command bar that the handheld attaches to dialogs; a window
  // without one is left alone.
  virtual BOOL CommandBar_Show(HWND hwnd, BOOL show) = 0;

  // Dialogs and their controls. The dialog is created hidden or shown as its
  // template says, its controls from the template, and WM_INITDIALOG is sent
  // to handler before the call returns.
  virtual HWND CreateDialogIndirectW(const DialogTemplate& dialog, HWND parent, IWindowHandler* handler) = 0;
  virtual HWND GetDlgItem(HWND dialog, int id) = 0;
  virtual int GetDlgCtrlID(HWND hwnd) = 0;
  virtual HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) = 0;
  // Routes a control's messages to handler; CallDefaultProc gives a message
  // to the control's own processing. A null handler takes the framework off
  // the window: its messages get only the window's own processing.
  virtual BOOL SubclassWindow(HWND hwnd, IWindowHandler* handler) = 0;
  virtual LRESULT CallDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // TRUE while the calling program handles a message that another program
  // sent it: pointers in such a message are not the program's own.
  virtual BOOL InSendMessage() = 0;

  // Messages.
  virtual LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // Waits for the calling program's next message; FALSE on WM_QUIT.
  virtual BOOL GetMessageW(MSG* msg) = 0;
  virtual BOOL IsDialogMessageW(HWND dialog, MSG* msg) = 0;
  virtual LRESULT DispatchMessageW(const MSG* msg) = 0;
  virtual void PostQuitMessage(int exitCode) = 0;

  // Timers: ticks arrive as WM_TIMER, or call proc when one is given.
  virtual UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) = 0;
  virtual BOOL KillTimer(HWND hwnd, UINT_PTR id) = 0;

  // Message boxes: a modal box with the caption, text and buttons; returns the
  // button chosen.
  virtual int MessageBoxW(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) = 0;
  // Ends one of the calling program's message boxes as if this button had
  // ended it: its MessageBoxW returns result. Works on every kind of box,
  // also one that shows no such button (a Yes/No question ended with
  // IDCANCEL); FALSE for a window that is not such a box.
  virtual BOOL EndDialog(HWND box, INT_PTR result) = 0;

  // Popup menus.
  virtual HMENU LoadMenuW(const MenuTemplate& menu) = 0;
  virtual HMENU GetSubMenu(HMENU menu, int position) = 0;
  virtual BOOL RemoveMenu(HMENU menu, UINT item, UINT flags) = 0;
  virtual DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) = 0;
  // Shows the menu; the chosen command arrives at owner as WM_COMMAND.
  virtual BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) = 0;
  // Ends the popup menu the calling program is tracking, as a tap beside it
  // would: TrackPopupMenu returns and nothing is chosen.
  virtual BOOL EndMenu() = 0;
  virtual BOOL DestroyMenu(HMENU menu) = 0;

  // Drawing into the device context of an owner-drawn item.
  virtual COLORREF GetSysColor(int index) = 0;
  virtual HBRUSH GetStockObject(int object) = 0;
  virtual void FillSolidRect(HDC dc, const RECT& rect, COLORREF color) = 0;
  virtual void Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) = 0;
  virtual HICON LoadIconImage(int resourceId, int cx, int cy) = 0;
  virtual BOOL DestroyIcon(HICON icon) = 0;
  virtual BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT flags) = 0;
};

// ---- Processes -------------------------------------------------------------

inline constexpr DWORD TH32CS_SNAPPROCESS = 0x00000002;
inline constexpr DWORD PROCESS_TERMINATE = 0x0001;
inline constexpr DWORD SEE_MASK_NOCLOSEPROCESS = 0x00000040;
inline constexpr std::size_t MAX_PATH = 260;

struct PROCESSENTRY32W {
  DWORD dwSize = sizeof(PROCESSENTRY32W);
  DWORD th32ProcessID = 0;
  DWORD cntThreads = 0;
  DWORD th32ParentProcessID = 0;
  std::array<char16_t, MAX_PATH> szExeFile{};
};

// The fields of SHELLEXECUTEINFO that the programs set. The 32-bit record the
// handheld's programs pass is 60 bytes long.
struct SHELLEXECUTEINFOW {
  DWORD cbSize = 60;
  DWORD fMask = 0;
  HWND hwnd = nullptr;
  std::u16string_view lpVerb;
  std::u16string_view lpFile;
  std::u16string_view lpParameters;
  std::u16string_view lpDirectory;
  int nShow = SW_SHOWNORMAL;
  HANDLE hProcess = nullptr;  // out, with SEE_MASK_NOCLOSEPROCESS
};

class IProcesses {
 public:
  virtual ~IProcesses() = default;

  // nullptr when the library cannot be found (GetLastError: ERROR_MOD_NOT_FOUND).
  virtual HMODULE LoadLibraryW(std::u16string_view name) = 0;
  virtual BOOL FreeLibrary(HMODULE module) = 0;
  virtual HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) = 0;
  virtual BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) = 0;
  virtual BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) = 0;
  virtual BOOL CloseToolhelp32Snapshot(HANDLE snapshot) = 0;
  virtual HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) = 0;
  virtual BOOL TerminateProcess(HANDLE process, UINT exitCode) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  virtual DWORD GetLastError() = 0;
  // The calling program's own file, with its directory.
  virtual std::u16string GetModuleFileNameW() = 0;
};

// ---- Dial-up ---------------------------------------------------------------

inline constexpr std::size_t RAS_MaxEntryName = 20;

// The handheld's record: 52 bytes with 32-bit handles.
struct RASCONN {
  DWORD dwSize = 52;
  HRASCONN hrasconn = nullptr;
  std::array<char16_t, RAS_MaxEntryName + 1> szEntryName{};
};
inline constexpr DWORD kRasConnRecordSize = 52;

class IDialUp {
 public:
  virtual ~IDialUp() = default;
  // Fills records (records[0].dwSize must be 52) with the open connections.
  // *bytes holds the buffer size on entry and the size needed on return;
  // ERROR_BUFFER_TOO_SMALL when the connections do not fit.
  virtual DWORD RasEnumConnectionsW(std::span<RASCONN> records, DWORD* bytes, DWORD* count) = 0;
  virtual DWORD RasHangUpW(HRASCONN connection) = 0;
};

// ---- Files -----------------------------------------------------------------

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

class IFiles {
 public:
  virtual ~IFiles() = default;
  // Only OPEN_EXISTING is supported: files are never created.
  virtual HANDLE CreateFileW(std::u16string_view path, DWORD access, DWORD share, DWORD disposition) = 0;
  virtual BOOL ReadFile(HANDLE file, std::span<BYTE> buffer, DWORD* read) = 0;
  virtual BOOL WriteFile(HANDLE file, std::span<const BYTE> data, DWORD* written) = 0;
  virtual DWORD SetFilePointer(HANDLE file, LONG distance, DWORD method) = 0;
  virtual BOOL SetEndOfFile(HANDLE file) = 0;
  virtual BOOL CloseHandle(HANDLE file) = 0;
};

// ---- Text ------------------------------------------------------------------

inline constexpr UINT CP_KOREAN = 949;

class ICodePage {
 public:
  virtual ~ICodePage() = default;
  // Converts to the code page. A character the code page lacks becomes its
  // default character "?" (0x3F).
  virtual std::string WideCharToMultiByte(UINT codePage, std::u16string_view text) = 0;
  virtual std::u16string MultiByteToWideChar(UINT codePage, std::string_view bytes) = 0;
};

// ---- Power -----------------------------------------------------------------

inline constexpr DWORD IOCTL_HAL_REBOOT = 0x0101003C;

class IPower {
 public:
  virtual ~IPower() = default;
  // IOCTL_HAL_REBOOT soft-resets the device; on success the call does not
  // come back on a real device.
  virtual BOOL KernelIoControl(DWORD code, std::span<const BYTE> in, std::span<BYTE> out, DWORD* returned) = 0;
};

// ---- The whole ---------------------------------------------------------------

// The services one program sees. Backends own the objects; programs hold the
// bundle by reference for their whole life.
struct Platform {
  IRegistry& registry;
  IWindows& windows;
  IProcesses& processes;
  IDialUp& dialUp;
  IFiles& files;
  ICodePage& codePage;
  IPower& power;
};


// ---- Registry helpers ------------------------------------------------------

// An open registry key, closed when the object goes away. Failures leave the
// object without a key and touch no out-parameter.
class RegKey {
 public:
  explicit RegKey(IRegistry& registry) : registry_(registry) {}
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { Close(); }

  // Opens an existing key (never creates it).
  LONG Open(HKEY root, std::u16string_view path, REGSAM access = KEY_ALL_ACCESS);
  // Opens the key, creating the missing parts of its path.
  LONG Create(HKEY root, std::u16string_view path, REGSAM access = KEY_ALL_ACCESS);
  void Close();
  [[nodiscard]] bool Valid() const { return key_ != nullptr; }
  [[nodiscard]] HKEY Handle() const { return key_; }

  // REG_SZ with its terminator: (length + 1) * 2 bytes.
  LONG WriteString(std::u16string_view name, std::u16string_view text);
  // REG_SZ of exactly `bytes` bytes: the text, its terminator, zero bytes.
  // Text that would leave no room for the terminator is cut so that the
  // value always ends in one: a reader of the same width gets a terminated
  // string instead of a truncated, unterminated one.
  LONG WriteFixedString(std::u16string_view name, std::u16string_view text, DWORD bytes);
  LONG WriteDword(std::u16string_view name, DWORD value);
  // Reads a REG_SZ or REG_EXPAND_SZ value of at most maxBytes bytes, as a
  // reader with a buffer of that size would: a larger value fails with
  // ERROR_MORE_DATA, another type with ERROR_INVALID_PARAMETER. The text
  // ends at the first zero code unit.
  LONG ReadString(std::u16string_view name, std::size_t maxBytes, std::u16string* text);
  // Reads a REG_DWORD value; other types or sizes fail with
  // ERROR_INVALID_PARAMETER.
  LONG ReadDword(std::u16string_view name, DWORD* value);

 private:
  IRegistry& registry_;
  HKEY key_ = nullptr;
};

// The characters of a fixed-width string value: `bytes` bytes hold at most
// bytes / 2 - 1 characters and the terminator.
constexpr std::size_t FixedStringCapacity(DWORD bytes) { return bytes / 2 == 0 ? 0 : bytes / 2 - 1; }

}  // namespace qx
