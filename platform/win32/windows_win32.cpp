// Windows, dialogs, controls, messages, timers, menus, message boxes and
// drawing over Win32.
//
// The programs' windows are dialogs made from the compiled resources, and
// controls that the framework subclasses. Their messages reach the
// framework's IWindowHandler through two thunks: the dialog procedure of
// every dialog made here, and a window procedure put in front of a
// subclassed control's own.
#include "platform/win32/win32_internal.h"

#include <vector>

namespace qx::win32 {

namespace {

constexpr wchar_t kHandlerProp[] = L"qx.handler";
constexpr wchar_t kOldProcProp[] = L"qx.oldproc";
// Dialogs are windows of class "Dialog" on the handheld, and other programs
// look for them by that name (the setup extension finds the tray client so).
// Win32's dialog class is "#32770": the resource script names this class
// instead, registered here as a dialog class (DefDlgProc and its extra bytes).
constexpr wchar_t kDialogClassName[] = L"Dialog";

// What CreateDialogIndirectW hands to the dialog procedure through
// WM_INITDIALOG.
struct DialogStart {
  const DialogTemplate* dialog;
  IWindowHandler* handler;
};

// CallDefaultProc on a dialog runs DefDlgProc, which calls the dialog
// procedure first; this marks the one call that must pass straight through.
// One per process, like the timer routines below: a program's windows all
// belong to its one thread, which makes that call and receives it. (Per
// thread it would cost the runtime's emulated thread-local storage.)
struct Bypass {
  ::HWND hwnd = nullptr;
  ::UINT message = 0;
};
Bypass g_bypass;

IWindowHandler* HandlerOf(::HWND hwnd) { return static_cast<IWindowHandler*>(::GetPropW(hwnd, kHandlerProp)); }

// The framework reads owner-draw requests in the platform's layout.
qx::DRAWITEMSTRUCT ToPlatform(const ::DRAWITEMSTRUCT& item) {
  qx::DRAWITEMSTRUCT out;
  out.CtlType = item.CtlType;
  out.CtlID = item.CtlID;
  out.itemAction = item.itemAction;
  out.itemState = item.itemState;
  out.hwndItem = Q(item.hwndItem);
  out.hDC = Q(item.hDC);
  out.rcItem = {item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom};
  return out;
}

bool CallHandler(IWindowHandler* handler, ::HWND hwnd, ::UINT message, ::WPARAM wParam, ::LPARAM lParam,
                 qx::LRESULT* result) {
  if (message == WM_DRAWITEM && lParam != 0) {
    qx::DRAWITEMSTRUCT item = ToPlatform(*reinterpret_cast<const ::DRAWITEMSTRUCT*>(lParam));
    return handler->HandleMessage(Q(hwnd), message, wParam, reinterpret_cast<qx::LPARAM>(&item), result);
  }
  return handler->HandleMessage(Q(hwnd), message, wParam, lParam, result);
}

void AddListItems(::HWND dialog, const DialogTemplate& dialogTemplate) {
  // A resource script cannot carry a list's entries; the handheld's dialog
  // has them from the start, so they go in before WM_INITDIALOG reaches the
  // program.
  for (const ControlTemplate& control : dialogTemplate.controls) {
    if (control.items.empty()) continue;
    const ::HWND list = ::GetDlgItem(dialog, control.id);
    if (list == nullptr) continue;
    for (std::u16string_view item : control.items) {
      ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<::LPARAM>(Wz(item).c_str()));
    }
  }
}

INT_PTR CALLBACK DialogThunk(::HWND hwnd, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* start = reinterpret_cast<const DialogStart*>(lParam);
    if (start == nullptr || start->handler == nullptr) return TRUE;
    ::SetPropW(hwnd, kHandlerProp, start->handler);
    if (start->dialog != nullptr) AddListItems(hwnd, *start->dialog);
    lParam = 0;  // the handheld's dialogs get no creation parameter
  }
  if (g_bypass.hwnd == hwnd && g_bypass.message == message) {
    g_bypass = {};
    return FALSE;
  }
  IWindowHandler* handler = HandlerOf(hwnd);
  if (message == WM_NCDESTROY) ::RemovePropW(hwnd, kHandlerProp);
  if (handler == nullptr) return FALSE;
  qx::LRESULT result = 0;
  if (!CallHandler(handler, hwnd, message, wParam, lParam, &result)) return FALSE;
  switch (message) {
    // These return their answer directly; every other one through
    // DWLP_MSGRESULT.
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(result);
    default:
      ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

LRESULT CALLBACK SubclassThunk(::HWND hwnd, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
  const auto oldProc = reinterpret_cast<::WNDPROC>(::GetPropW(hwnd, kOldProcProp));
  IWindowHandler* handler = HandlerOf(hwnd);
  if (message == WM_NCDESTROY) {
    // The window goes: give it its own procedure back and forget it.
    ::RemovePropW(hwnd, kHandlerProp);
    ::RemovePropW(hwnd, kOldProcProp);
    if (oldProc != nullptr) ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc));
  }
  qx::LRESULT result = 0;
  if (handler != nullptr && message != WM_NCDESTROY && CallHandler(handler, hwnd, message, wParam, lParam, &result)) {
    return result;
  }
  if (oldProc == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return ::CallWindowProcW(oldProc, hwnd, message, wParam, lParam);
}

// The process's one Windows object, whose timer routines the thunk that
// Win32 calls runs.
const Windows* g_timerOwner = nullptr;

void CALLBACK TimerThunk(::HWND hwnd, ::UINT message, ::UINT_PTR id, ::DWORD time) {
  if (g_timerOwner == nullptr) return;
  if (const qx::TIMERPROC proc = g_timerOwner->TimerRoutineOf(hwnd, id)) proc(Q(hwnd), message, id, time);
}

struct EnumContext {
  qx::WNDENUMPROC proc;
  qx::LPARAM lParam;
};

BOOL CALLBACK EnumThunk(::HWND hwnd, ::LPARAM lParam) {
  const auto* context = reinterpret_cast<const EnumContext*>(lParam);
  return context->proc(Q(hwnd), context->lParam) ? TRUE : FALSE;
}

::RECT ToWin32(const qx::RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

bool IsOurDialog(::HWND hwnd) {
  return reinterpret_cast<DLGPROC>(::GetWindowLongPtrW(hwnd, DWLP_DLGPROC)) == DialogThunk;
}

::HMENU BuildMenu(std::span<const MenuItemTemplate> items, bool popup) {
  ::HMENU menu = popup ? ::CreatePopupMenu() : ::CreateMenu();
  if (menu == nullptr) return nullptr;
  for (const MenuItemTemplate& item : items) {
    if (!item.popup.empty()) {
      ::HMENU sub = BuildMenu(item.popup, true);
      ::AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<::UINT_PTR>(sub), Wz(item.text).c_str());
    } else if (item.id == 0 && item.text.empty()) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      ::AppendMenuW(menu, MF_STRING, item.id, Wz(item.text).c_str());
    }
  }
  return menu;
}

}  // namespace

::HMODULE OwnModule() {
  ::HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

Windows::Windows() {
  g_timerOwner = this;
  WNDCLASSW dialogClass{};
  dialogClass.lpfnWndProc = ::DefDlgProcW;
  dialogClass.cbWndExtra = DLGWINDOWEXTRA;
  dialogClass.hInstance = OwnModule();
  dialogClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  dialogClass.hbrBackground = reinterpret_cast<::HBRUSH>(COLOR_BTNFACE + 1);
  dialogClass.lpszClassName = kDialogClassName;
  ::RegisterClassW(&dialogClass);  // a second registration in the process fails harmlessly
}

Windows::~Windows() {
  if (g_timerOwner == this) g_timerOwner = nullptr;
}

// ---- Finding ------------------------------------------------------------------------

qx::HWND Windows::FindWindowW(std::u16string_view className, std::u16string_view title) {
  return Q(::FindWindowW(ShortWz(className).c_str(), ShortWz(title).c_str()));
}

qx::HWND Windows::WindowFromPoint(qx::POINT point) { return Q(::WindowFromPoint({point.x, point.y})); }

qx::HWND Windows::GetParent(qx::HWND hwnd) { return Q(::GetParent(W(hwnd))); }
qx::HWND Windows::GetForegroundWindow() { return Q(::GetForegroundWindow()); }
BOOL Windows::SetForegroundWindow(qx::HWND hwnd) { return ::SetForegroundWindow(W(hwnd)); }
qx::HWND Windows::GetDesktopWindow() { return Q(::GetDesktopWindow()); }

BOOL Windows::EnumWindows(qx::WNDENUMPROC proc, qx::LPARAM lParam) {
  if (proc == nullptr) return FALSE;
  EnumContext context{proc, lParam};
  return ::EnumWindows(EnumThunk, reinterpret_cast<::LPARAM>(&context));
}

BOOL Windows::EnumThreadWindows(qx::WNDENUMPROC proc, qx::LPARAM lParam) {
  if (proc == nullptr) return FALSE;
  EnumContext context{proc, lParam};
  return ::EnumThreadWindows(::GetCurrentThreadId(), EnumThunk, reinterpret_cast<::LPARAM>(&context));
}

BOOL Windows::IsWindow(qx::HWND hwnd) { return ::IsWindow(W(hwnd)); }
BOOL Windows::IsWindowVisible(qx::HWND hwnd) { return ::IsWindowVisible(W(hwnd)); }
BOOL Windows::IsWindowEnabled(qx::HWND hwnd) { return ::IsWindowEnabled(W(hwnd)); }

int Windows::GetClassNameW(qx::HWND hwnd, std::span<char16_t> text) {
  if (text.empty()) return 0;
  text[0] = u'\0';
  return ::GetClassNameW(W(hwnd), Wp(text.data()), static_cast<int>(text.size()));
}

int Windows::GetWindowTextW(qx::HWND hwnd, std::span<char16_t> text) {
  if (text.empty()) return 0;
  text[0] = u'\0';
  return ::GetWindowTextW(W(hwnd), Wp(text.data()), static_cast<int>(text.size()));
}

BOOL Windows::SetWindowTextW(qx::HWND hwnd, std::u16string_view text) {
  return ::SetWindowTextW(W(hwnd), Wz(text).c_str());
}

BOOL Windows::GetWindowRect(qx::HWND hwnd, qx::RECT* rect) {
  ::RECT r{};
  if (rect == nullptr || !::GetWindowRect(W(hwnd), &r)) return FALSE;
  *rect = {r.left, r.top, r.right, r.bottom};
  return TRUE;
}

BOOL Windows::GetClientRect(qx::HWND hwnd, qx::RECT* rect) {
  ::RECT r{};
  if (rect == nullptr || !::GetClientRect(W(hwnd), &r)) return FALSE;
  *rect = {r.left, r.top, r.right, r.bottom};
  return TRUE;
}

BOOL Windows::ScreenToClient(qx::HWND hwnd, qx::POINT* point) {
  if (point == nullptr) return FALSE;
  ::POINT p{point->x, point->y};
  if (!::ScreenToClient(W(hwnd), &p)) return FALSE;
  *point = {p.x, p.y};
  return TRUE;
}

BOOL Windows::GetCursorPos(qx::POINT* point) {
  ::POINT p{};
  if (point == nullptr || !::GetCursorPos(&p)) return FALSE;
  *point = {p.x, p.y};
  return TRUE;
}

LONG Windows::GetWindowStyle(qx::HWND hwnd) { return ::GetWindowLongW(W(hwnd), GWL_STYLE); }

void Windows::SetWindowStyle(qx::HWND hwnd, LONG style) { ::SetWindowLongW(W(hwnd), GWL_STYLE, style); }

// ---- Changing -------------------------------------------------------------------------

BOOL Windows::ShowWindow(qx::HWND hwnd, int command) { return ::ShowWindow(W(hwnd), command); }

BOOL Windows::SetWindowPos(qx::HWND hwnd, qx::HWND insertAfter, int x, int y, int cx, int cy, qx::UINT flags) {
  // A window being hidden is not activated, on the handheld as on desktop
  // Windows; Wine activates it unless told not to, and a hidden active tray
  // window would look to the poll like the user's choice of window.
  if ((flags & SWP_HIDEWINDOW) != 0) flags |= SWP_NOACTIVATE;
  return ::SetWindowPos(W(hwnd), W(insertAfter), x, y, cx, cy, flags);
}

BOOL Windows::MoveWindow(qx::HWND hwnd, int x, int y, int cx, int cy, BOOL repaint) {
  return ::MoveWindow(W(hwnd), x, y, cx, cy, repaint);
}

BOOL Windows::EnableWindow(qx::HWND hwnd, BOOL enable) { return ::EnableWindow(W(hwnd), enable); }

BOOL Windows::DestroyWindow(qx::HWND hwnd) {
  const ::HWND window = W(hwnd);
  ::DWORD owner = 0;
  if (::GetWindowThreadProcessId(window, &owner) != 0 && owner != ::GetCurrentProcessId()) {
    // The handheld lets a program destroy another program's window (the
    // tray client closes the browser so). Desktop Windows refuses that, and
    // the nearest stand-in is asking the window to close: the browser then
    // ends as it would after its window went away. Sent, so the window is
    // gone when the call returns, as after a destruction (a browser started
    // right after must not find the old one); a program that no longer
    // answers is given up on after a while instead of hanging the caller.
    ::DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result)) return FALSE;
    return !::IsWindow(window);
  }
  return ::DestroyWindow(window);
}

qx::HWND Windows::SetFocus(qx::HWND hwnd) { return Q(::SetFocus(W(hwnd))); }
qx::HWND Windows::GetFocus() { return Q(::GetFocus()); }
BOOL Windows::InvalidateRect(qx::HWND hwnd, BOOL erase) { return ::InvalidateRect(W(hwnd), nullptr, erase); }

BOOL Windows::CommandBar_Show(qx::HWND hwnd, BOOL show) {
  // The handheld attaches a command bar (menu and buttons along the bottom)
  // to each dialog; desktop dialogs have none, so there is nothing to show
  // or hide. The call succeeds for a window, as it does on the handheld.
  (void)show;
  return ::IsWindow(W(hwnd));
}

// ---- Dialogs and controls ---------------------------------------------------------------

qx::HWND Windows::CreateDialogIndirectW(const DialogTemplate& dialog, qx::HWND parent, IWindowHandler* handler) {
  // The dialog comes from the compiled resources, which the resource script
  // made from this same template.
  DialogStart start{&dialog, handler};
  return Q(::CreateDialogParamW(OwnModule(), MAKEINTRESOURCEW(dialog.id), W(parent), DialogThunk,
                                reinterpret_cast<::LPARAM>(&start)));
}

qx::HWND Windows::GetDlgItem(qx::HWND dialog, int id) { return Q(::GetDlgItem(W(dialog), id)); }
int Windows::GetDlgCtrlID(qx::HWND hwnd) { return ::GetDlgCtrlID(W(hwnd)); }

qx::HWND Windows::GetNextDlgTabItem(qx::HWND dialog, qx::HWND control, BOOL previous) {
  return Q(::GetNextDlgTabItem(W(dialog), W(control), previous));
}

BOOL Windows::SubclassWindow(qx::HWND hwnd, IWindowHandler* handler) {
  const ::HWND window = W(hwnd);
  if (!::IsWindow(window)) return FALSE;
  if (handler == nullptr) {
    // Both thunks pass a window without a handler on to its own processing.
    ::RemovePropW(window, kHandlerProp);
    return TRUE;
  }
  if (::GetPropW(window, kOldProcProp) == nullptr) {
    const LONG_PTR old = ::GetWindowLongPtrW(window, GWLP_WNDPROC);
    if (old == 0 || !::SetPropW(window, kOldProcProp, reinterpret_cast<::HANDLE>(old))) return FALSE;
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassThunk));
  }
  return ::SetPropW(window, kHandlerProp, handler);
}

qx::BOOL Windows::InSendMessage() {
  // Another thread's send: on desktop Windows that is also another
  // program's, as on the handheld.
  return (::InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_NOTIFY | ISMEX_CALLBACK)) != 0;
}

qx::LRESULT Windows::CallDefaultProc(qx::HWND hwnd, qx::UINT message, qx::WPARAM wParam, qx::LPARAM lParam) {
  const ::HWND window = W(hwnd);
  if (const auto oldProc = reinterpret_cast<::WNDPROC>(::GetPropW(window, kOldProcProp))) {
    return ::CallWindowProcW(oldProc, window, message, wParam, lParam);
  }
  if (IsOurDialog(window)) {
    // DefDlgProc asks the dialog procedure first; that one call passes.
    const Bypass outer = g_bypass;
    g_bypass = {window, message};
    const LRESULT result = ::DefDlgProcW(window, message, wParam, lParam);
    g_bypass = outer;
    return result;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// ---- Messages ----------------------------------------------------------------------------

qx::LRESULT Windows::SendMessageW(qx::HWND hwnd, qx::UINT message, qx::WPARAM wParam, qx::LPARAM lParam) {
  return ::SendMessageW(W(hwnd), message, wParam, lParam);
}

BOOL Windows::PostMessageW(qx::HWND hwnd, qx::UINT message, qx::WPARAM wParam, qx::LPARAM lParam) {
  return ::PostMessageW(W(hwnd), message, wParam, lParam);
}

BOOL Windows::GetMessageW(qx::MSG* msg) {
  if (msg == nullptr) return FALSE;
  const BOOL got = ::GetMessageW(&last_, nullptr, 0, 0);
  // -1 is an error (no message to wait for): treated as the end, so a
  // modal loop cannot spin on it.
  if (got <= 0) {
    *msg = {Q(last_.hwnd), WM_QUIT, last_.wParam, last_.lParam};
    return FALSE;
  }
  *msg = {Q(last_.hwnd), last_.message, last_.wParam, last_.lParam};
  return TRUE;
}

namespace {
::MSG Rebuild(const qx::MSG& msg, const ::MSG& last) {
  if (W(msg.hwnd) == last.hwnd && msg.message == last.message && msg.wParam == last.wParam &&
      msg.lParam == last.lParam) {
    return last;
  }
  ::MSG out{};
  out.hwnd = W(msg.hwnd);
  out.message = msg.message;
  out.wParam = msg.wParam;
  out.lParam = msg.lParam;
  out.time = static_cast<::DWORD>(::GetMessageTime());
  ::GetCursorPos(&out.pt);
  return out;
}
}  // namespace

BOOL Windows::IsDialogMessageW(qx::HWND dialog, qx::MSG* msg) {
  if (msg == nullptr || dialog == nullptr) return FALSE;
  ::MSG m = Rebuild(*msg, last_);
  return ::IsDialogMessageW(W(dialog), &m);
}

qx::LRESULT Windows::DispatchMessageW(const qx::MSG* msg) {
  if (msg == nullptr) return 0;
  const ::MSG m = Rebuild(*msg, last_);
  return ::DispatchMessageW(&m);
}

void Windows::PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

qx::UINT_PTR Windows::SetTimer(qx::HWND hwnd, qx::UINT_PTR id, qx::UINT elapseMs, qx::TIMERPROC proc) {
  const ::UINT_PTR set = ::SetTimer(W(hwnd), id, elapseMs, proc != nullptr ? TimerThunk : nullptr);
  if (set != 0) {
    SetTimerRoutine(W(hwnd), hwnd != nullptr ? id : set, proc);
  }
  return set;
}

BOOL Windows::KillTimer(qx::HWND hwnd, qx::UINT_PTR id) {
  SetTimerRoutine(W(hwnd), id, nullptr);
  return ::KillTimer(W(hwnd), id);
}

qx::TIMERPROC Windows::TimerRoutineOf(::HWND hwnd, ::UINT_PTR id) const {
  for (const TimerRoutine& timer : timerProcs_) {
    if (timer.hwnd == hwnd && timer.id == id) return timer.proc;
  }
  return nullptr;
}

void Windows::SetTimerRoutine(::HWND hwnd, ::UINT_PTR id, qx::TIMERPROC proc) {
  for (auto it = timerProcs_.begin(); it != timerProcs_.end(); ++it) {
    if (it->hwnd != hwnd || it->id != id) continue;
    if (proc != nullptr) {
      it->proc = proc;
    } else {
      timerProcs_.erase(it);
    }
    return;
  }
  if (proc != nullptr) timerProcs_.push_back({hwnd, id, proc});
}

// ---- Message boxes --------------------------------------------------------------------------

int Windows::MessageBoxW(qx::HWND owner, std::u16string_view text, std::u16string_view caption, qx::UINT type) {
  return ::MessageBoxW(W(owner), Wz(text).c_str(), Wz(caption).c_str(), type);
}

BOOL Windows::EndDialog(qx::HWND box, qx::INT_PTR result) {
  // Only a message box, a dialog of the system's own class: the program's
  // own dialogs end through their framework loops, and EndDialog on a
  // window that is no dialog (a popup menu's, say) is not defined.
  wchar_t name[16] = {};
  if (::GetWindowThreadProcessId(W(box), nullptr) != ::GetCurrentThreadId() ||
      ::GetClassNameW(W(box), name, 16) == 0 || std::wstring_view(name) != L"#32770") {
    ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  // A message sent to the box (WM_COMMAND IDCANCEL, WM_CLOSE) would end
  // it too under Wine, but Windows' Yes/No box ignores a cancel it does
  // not offer; EndDialog ends every kind.
  return ::EndDialog(W(box), result);
}

// ---- Menus --------------------------------------------------------------------------------

qx::HMENU Windows::LoadMenuW(const MenuTemplate& menu) {
  if (::HMENU loaded = ::LoadMenuW(OwnModule(), MAKEINTRESOURCEW(menu.id))) return Q(loaded);
  // A module without the resource (a test program, say) gets the same menu
  // built from the template.
  return Q(BuildMenu(menu.items, false));
}

qx::HMENU Windows::GetSubMenu(qx::HMENU menu, int position) { return Q(::GetSubMenu(W(menu), position)); }

BOOL Windows::RemoveMenu(qx::HMENU menu, qx::UINT item, qx::UINT flags) {
  return ::RemoveMenu(W(menu), item, flags);
}

DWORD Windows::CheckMenuItem(qx::HMENU menu, qx::UINT item, qx::UINT flags) {
  return ::CheckMenuItem(W(menu), item, flags);
}

BOOL Windows::TrackPopupMenu(qx::HMENU menu, qx::UINT flags, int x, int y, qx::HWND owner) {
  // A desktop popup menu closes only when its owner is the foreground
  // window; the message posted afterwards lets the next tap reach it (both
  // as Win32's documentation of TrackPopupMenu asks).
  ::SetForegroundWindow(W(owner));
  const BOOL shown = ::TrackPopupMenu(W(menu), flags, x, y, 0, W(owner), nullptr);
  ::PostMessageW(W(owner), WM_NULL, 0, 0);
  return shown;
}

BOOL Windows::EndMenu() { return ::EndMenu(); }

BOOL Windows::DestroyMenu(qx::HMENU menu) { return ::DestroyMenu(W(menu)); }

// ---- Drawing -------------------------------------------------------------------------------

COLORREF Windows::GetSysColor(int index) {
  // The handheld's flag asks for a colour that follows the scheme; desktop
  // Windows knows only the index, and its colour is what the flag stands for.
  return ::GetSysColor(index & ~static_cast<int>(SYS_COLOR_INDEX_FLAG));
}

qx::HBRUSH Windows::GetStockObject(int object) { return reinterpret_cast<qx::HBRUSH>(::GetStockObject(object)); }

void Windows::FillSolidRect(qx::HDC dc, const qx::RECT& rect, COLORREF color) {
  const ::RECT r = ToWin32(rect);
  const COLORREF old = ::SetBkColor(W(dc), color);
  ::ExtTextOutW(W(dc), 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  ::SetBkColor(W(dc), old);
}

void Windows::Draw3dRect(qx::HDC dc, const qx::RECT& rect, COLORREF topLeft, COLORREF bottomRight) {
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  FillSolidRect(dc, {rect.left, rect.top, rect.right - 1, rect.top + 1}, topLeft);
  FillSolidRect(dc, {rect.left, rect.top, rect.left + 1, rect.bottom - 1}, topLeft);
  FillSolidRect(dc, {rect.left + width - 1, rect.top, rect.right, rect.bottom}, bottomRight);
  FillSolidRect(dc, {rect.left, rect.top + height - 1, rect.right, rect.bottom}, bottomRight);
}

qx::HICON Windows::LoadIconImage(int resourceId, int cx, int cy) {
  // Size 0 keeps the image's own size, as on the handheld.
  return Q(static_cast<::HICON>(
      ::LoadImageW(OwnModule(), MAKEINTRESOURCEW(resourceId), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR)));
}

BOOL Windows::DestroyIcon(qx::HICON icon) { return ::DestroyIcon(W(icon)); }

BOOL Windows::DrawIconEx(qx::HDC dc, int x, int y, qx::HICON icon, int cx, int cy, qx::UINT flags) {
  return ::DrawIconEx(W(dc), x, y, W(icon), cx, cy, 0, nullptr, flags);
}

}  // namespace qx::win32
