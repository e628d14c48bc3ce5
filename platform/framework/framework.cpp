#include "platform/framework/framework.h"

#include <algorithm>
#include <vector>

namespace qx {

// ---- Application -------------------------------------------------------------

std::u16string ProgramBaseName(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::u16string(name);
}

CWinApp::CWinApp(Platform& platform, std::u16string_view appName) : m_platform(platform), m_appName(appName) {
  if (m_appName.empty()) m_appName = ProgramBaseName(platform.processes.GetModuleFileNameW());
}

void CWinApp::SetRegistryKey(std::u16string_view company) { m_registryKey = company; }

std::u16string CWinApp::SectionPath(std::u16string_view section) const {
  std::u16string path = u"Software\\";
  path += m_registryKey;
  path += u'\\';
  path += m_appName;
  path += u'\\';
  path += section;
  return path;
}

int CWinApp::GetProfileInt(std::u16string_view section, std::u16string_view entry, int defaultValue) {
  RegKey key(m_platform.registry);
  if (key.Create(HKEY_CURRENT_USER, SectionPath(section)) != ERROR_SUCCESS) return defaultValue;
  DWORD value = 0;
  if (key.ReadDword(entry, &value) != ERROR_SUCCESS) return defaultValue;
  return static_cast<int>(value);
}

std::u16string CWinApp::GetProfileString(std::u16string_view section, std::u16string_view entry,
                                         std::u16string_view defaultValue) {
  RegKey key(m_platform.registry);
  if (key.Create(HKEY_CURRENT_USER, SectionPath(section)) != ERROR_SUCCESS) return std::u16string(defaultValue);
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (m_platform.registry.RegQueryValueExW(key.Handle(), entry, &type, {}, &size) != ERROR_SUCCESS) {
    return std::u16string(defaultValue);
  }
  std::u16string text;
  if (key.ReadString(entry, size, &text) != ERROR_SUCCESS) return std::u16string(defaultValue);
  return text;
}

BOOL CWinApp::WriteProfileInt(std::u16string_view section, std::u16string_view entry, int value) {
  RegKey key(m_platform.registry);
  if (key.Create(HKEY_CURRENT_USER, SectionPath(section)) != ERROR_SUCCESS) return FALSE;
  return key.WriteDword(entry, static_cast<DWORD>(value)) == ERROR_SUCCESS;
}

BOOL CWinApp::WriteProfileString(std::u16string_view section, std::u16string_view entry,
                                 std::u16string_view value) {
  RegKey key(m_platform.registry);
  if (key.Create(HKEY_CURRENT_USER, SectionPath(section)) != ERROR_SUCCESS) return FALSE;
  return key.WriteString(entry, value) == ERROR_SUCCESS;
}

bool CWinApp::OnCmdMsg(UINT id) {
  if (id == ID_APP_EXIT && m_pMainWnd != nullptr) {
    m_pMainWnd->SendMessage(WM_CLOSE);
    return true;
  }
  return false;
}

namespace {

bool Contains(const std::vector<HWND>& windows, HWND hwnd) {
  return std::find(windows.begin(), windows.end(), hwnd) != windows.end();
}

// The program's shown top-level windows whose loops the framework does
// not run: its message boxes, owned by one of its windows or by none.
struct OpenBoxes {
  IWindows& windows;
  const std::vector<HWND>& ours;
  std::vector<HWND> found;

  static BOOL Visit(HWND hwnd, LPARAM context) {
    auto& search = *reinterpret_cast<OpenBoxes*>(context);
    if (!Contains(search.ours, hwnd) && search.windows.IsWindowVisible(hwnd)) search.found.push_back(hwnd);
    return TRUE;
  }
};

}  // namespace

void CWinApp::CancelOpenDialogs() {
  IWindows& windows = m_platform.windows;
  // A popup menu's loop is the innermost there can be: nothing is chosen.
  windows.EndMenu();
  std::vector<HWND> ours;
  if (m_pMainWnd != nullptr && m_pMainWnd->m_hWnd != nullptr) ours.push_back(m_pMainWnd->m_hWnd);
  std::vector<CDialog*> dialogs;
  for (CDialog* dialog : m_modalDialogs) {
    if (dialog == m_pMainWnd || dialog->m_hWnd == nullptr) continue;
    ours.push_back(dialog->m_hWnd);
    dialogs.push_back(dialog);
  }
  // Front first, so a box opened inside another box's loop ends first.
  OpenBoxes boxes{windows, ours, {}};
  windows.EnumThreadWindows(&OpenBoxes::Visit, reinterpret_cast<LPARAM>(&boxes));
  for (HWND box : boxes.found) windows.EndDialog(box, IDCANCEL);
  const WPARAM cancel = MAKEWPARAM(IDCANCEL, BN_CLICKED);
  for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it) {
    if ((*it)->m_hWnd != nullptr) (*it)->SendMessage(WM_COMMAND, cancel);
  }
}

// ---- Windows ---------------------------------------------------------------------

CWnd::~CWnd() {
  if (m_hWnd == nullptr) return;
  // A window that outlives its object would route messages to freed memory:
  // destroy it, and when the platform refuses, at least take this object off
  // the window's message path.
  if (!windows().DestroyWindow(m_hWnd) && m_hWnd != nullptr) windows().SubclassWindow(m_hWnd, nullptr);
}

bool CWnd::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (m_hWnd == nullptr) m_hWnd = hwnd;
  const MSG outer = m_current;
  m_current = {hwnd, message, wParam, lParam};
  const bool handled = OnWndMsg(message, wParam, lParam, result);
  m_current = outer;
  if (message == WM_DESTROY && hwnd == m_hWnd) {
    // The platform is done with the window; later calls must not reach it.
    m_hWnd = nullptr;
  }
  return handled;
}

bool CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_DRAWITEM: {
      // Another program's WM_DRAWITEM carries a pointer into its own memory:
      // only our own controls' requests are drawn.
      if (windows().InSendMessage()) return false;
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item == nullptr) return false;
      if (CWnd* control = FindBoundControl(item->hwndItem)) {
        control->DrawItem(*item);
        *result = TRUE;
        return true;
      }
      return false;
    }
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      if (CWnd* control = FindBoundControl(reinterpret_cast<HWND>(lParam))) {
        if (HBRUSH brush = control->CtlColor()) {
          *result = reinterpret_cast<LRESULT>(brush);
          return true;
        }
      }
      return false;
    default:
      (void)wParam;
      return false;
  }
}

CWnd* CWnd::FindBoundControl(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  const auto it = std::find_if(m_boundControls.begin(), m_boundControls.end(),
                               [hwnd](CWnd* control) { return control->m_hWnd == hwnd; });
  return it == m_boundControls.end() ? nullptr : *it;
}

LRESULT CWnd::Default() {
  return windows().CallDefaultProc(m_current.hwnd, m_current.message, m_current.wParam, m_current.lParam);
}

BOOL CWnd::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  const HWND hwnd = m_hWnd;
  if (windows().DestroyWindow(hwnd)) {
    m_hWnd = nullptr;  // WM_DESTROY has normally done this already
    return TRUE;
  }
  // A refused destroy leaves the window alive and still routed here: keep
  // it, so that a later attempt (at the latest this object's end) can finish
  // the job. A handle the platform no longer knows is simply forgotten.
  if (!windows().IsWindow(hwnd)) m_hWnd = nullptr;
  return FALSE;
}

BOOL CWnd::SubclassDlgItem(int id, CWnd& parent) {
  const HWND control = windows().GetDlgItem(parent.m_hWnd, id);
  if (control == nullptr) return FALSE;
  m_hWnd = control;
  PreSubclassWindow();
  if (!windows().SubclassWindow(control, this)) {
    m_hWnd = nullptr;
    return FALSE;
  }
  parent.AddBoundControl(*this);
  return TRUE;
}

BOOL CWnd::ShowWindow(int command) { return windows().ShowWindow(m_hWnd, command); }
BOOL CWnd::SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  return windows().SetWindowPos(m_hWnd, insertAfter, x, y, cx, cy, flags);
}
BOOL CWnd::MoveWindow(int x, int y, int cx, int cy, BOOL repaint) {
  return windows().MoveWindow(m_hWnd, x, y, cx, cy, repaint);
}
void CWnd::SetWindowText(std::u16string_view text) { windows().SetWindowTextW(m_hWnd, text); }
LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return windows().SendMessageW(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return windows().PostMessageW(m_hWnd, message, wParam, lParam);
}
UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  return windows().SetTimer(m_hWnd, id, elapseMs, proc);
}
BOOL CWnd::KillTimer(UINT_PTR id) { return windows().KillTimer(m_hWnd, id); }
BOOL CWnd::GetWindowRect(RECT* rect) { return windows().GetWindowRect(m_hWnd, rect); }
BOOL CWnd::GetClientRect(RECT* rect) { return windows().GetClientRect(m_hWnd, rect); }
BOOL CWnd::Invalidate(BOOL erase) { return windows().InvalidateRect(m_hWnd, erase); }
BOOL CWnd::EnableWindow(BOOL enable) { return windows().EnableWindow(m_hWnd, enable); }
LONG CWnd::GetStyle() { return windows().GetWindowStyle(m_hWnd); }
HWND CWnd::GetDlgItem(int id) { return windows().GetDlgItem(m_hWnd, id); }
HWND CWnd::GetParent() { return windows().GetParent(m_hWnd); }
HWND CWnd::SetFocus() { return windows().SetFocus(m_hWnd); }
int CWnd::MessageBox(std::u16string_view text, std::u16string_view caption, UINT type) {
  return windows().MessageBoxW(m_hWnd, text, caption, type);
}

// ---- Dialogs ---------------------------------------------------------------------

CDialog::CDialog(CWinApp& app, const DialogTemplate& dialog, CWnd* parent)
    : CWnd(app.platform()), m_app(app), m_template(dialog), m_pParent(parent) {}

INT_PTR CDialog::DoModal() {
  m_bEndModal = false;
  m_nModalResult = -1;
  const HWND owner = m_pParent != nullptr ? m_pParent->m_hWnd : nullptr;
  const HWND hwnd = windows().CreateDialogIndirectW(m_template, owner, this);
  if (hwnd == nullptr) return -1;
  m_hWnd = hwnd;
  // Known to the application while the loop runs, so it can be cancelled.
  struct Running {
    std::vector<CDialog*>& open;
    explicit Running(std::vector<CDialog*>& list, CDialog* dialog) : open(list) { open.push_back(dialog); }
    ~Running() { open.pop_back(); }
  } running(m_app.m_modalDialogs, this);
  while (!m_bEndModal) {
    MSG msg;
    if (!windows().GetMessageW(&msg)) {
      // Leave WM_QUIT for the loop that called us.
      windows().PostQuitMessage(0);
      break;
    }
    if (!windows().IsDialogMessageW(m_hWnd, &msg)) windows().DispatchMessageW(&msg);
    if (m_hWnd == nullptr) break;  // destroyed underneath us
  }
  if (m_hWnd != nullptr) windows().ShowWindow(m_hWnd, SW_HIDE);
  DestroyWindow();
  return m_nModalResult;
}

BOOL CDialog::OnInitDialog() {
  DoDataExchange();
  return TRUE;
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result) {
  m_nModalResult = result;
  m_bEndModal = true;
  // Wake the modal loop so it sees the end at once.
  if (m_hWnd != nullptr) PostMessage(WM_NULL);
}

void CDialog::DDX_Control(int id, CWnd& control) {
  if (control.m_hWnd == nullptr) control.SubclassDlgItem(id, *this);
}

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      *result = OnInitDialog();
      return true;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
          case IDOK:
            OnOK();
            *result = 0;
            return true;
          case IDCANCEL:
            OnCancel();
            *result = 0;
            return true;
          default:
            if (m_app.OnCmdMsg(LOWORD(wParam))) {
              *result = 0;
              return true;
            }
        }
      }
      return false;
    default:
      return CWnd::OnWndMsg(message, wParam, lParam, result);
  }
}

void CDialog::CheckDlgButton(int id, UINT check) {
  windows().SendMessageW(GetDlgItem(id), BM_SETCHECK, check, 0);
}

UINT CDialog::IsDlgButtonChecked(int id) {
  return static_cast<UINT>(windows().SendMessageW(GetDlgItem(id), BM_GETCHECK, 0, 0));
}

void CDialog::SetDlgItemText(int id, std::u16string_view text) { windows().SetWindowTextW(GetDlgItem(id), text); }

std::u16string CDialog::GetDlgItemText(int id, std::size_t maxChars) {
  std::vector<char16_t> buffer(maxChars + 1, u'\0');
  const int copied = windows().GetWindowTextW(GetDlgItem(id), buffer);
  return std::u16string(buffer.data(), static_cast<std::size_t>(std::clamp(copied, 0, static_cast<int>(maxChars))));
}

void CDialog::EnableDlgItem(int id, BOOL enable) { windows().EnableWindow(GetDlgItem(id), enable); }

}  // namespace qx
