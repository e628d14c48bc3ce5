// The application framework the programs are written in, in place of the
// handheld's: an application object with its registry profile, windows and
// dialogs with message maps, controls. It is portable code over the platform
// services, so the same program runs on the simulated device and on Win32.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qx {

class CWnd;
class CDialog;

// The framework's command for "end the program", routed to the application.
inline constexpr UINT ID_APP_EXIT = 57665;

// ---- Application -------------------------------------------------------------

class CWinApp {
 public:
  // An empty name takes the program file's base name, as the handheld's
  // framework does for a program without a title resource.
  explicit CWinApp(Platform& platform, std::u16string_view appName = {});
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual ~CWinApp() = default;

  // The program's whole life; FALSE ends it without a message loop.
  virtual BOOL InitInstance() = 0;

  // The profile lives under HKEY_CURRENT_USER\Software\<company>\<app name>.
  void SetRegistryKey(std::u16string_view company);
  // Reads a REG_DWORD; a missing value, or one of another type or size, gives
  // the default. Opening the profile creates its keys, as the handheld's
  // framework does.
  int GetProfileInt(std::u16string_view section, std::u16string_view entry, int defaultValue);
  // Reads a REG_SZ (any length, up to its first zero code unit); otherwise
  // the default.
  std::u16string GetProfileString(std::u16string_view section, std::u16string_view entry,
                                  std::u16string_view defaultValue = {});
  BOOL WriteProfileInt(std::u16string_view section, std::u16string_view entry, int value);
  BOOL WriteProfileString(std::u16string_view section, std::u16string_view entry, std::u16string_view value);

  // Commands that no window handled; ID_APP_EXIT closes the main window.
  virtual bool OnCmdMsg(UINT id);

  // Ends the modal loops the program has open above its main window, as the
  // user's cancel would: its popup menu (nothing chosen), its message boxes
  // (owned or not, each answering IDCANCEL), then its dialogs, innermost
  // first. Each loop returns once the message being handled now has
  // returned to it.
  void CancelOpenDialogs();

  [[nodiscard]] const std::u16string& AppName() const { return m_appName; }
  [[nodiscard]] const std::u16string& RegistryKey() const { return m_registryKey; }
  [[nodiscard]] Platform& platform() const { return m_platform; }

  CWnd* m_pMainWnd = nullptr;

 private:
  std::u16string SectionPath(std::u16string_view section) const;

  friend class CDialog;

  Platform& m_platform;
  std::u16string m_appName;
  std::u16string m_registryKey;
  std::vector<CDialog*> m_modalDialogs;  // running DoModal loops, outermost first
};

// The base name of a program file without its directory and extension.
std::u16string ProgramBaseName(std::u16string_view path);

// ---- Message maps --------------------------------------------------------------

// One entry of a window's message map: a command id or a window message and
// the member that handles it.
template <class T>
struct MessageMapEntry {
  enum class Kind { Command, Message };
  Kind kind;
  UINT code;
  void (T::*onCommand)() = nullptr;
  LRESULT (T::*onMessage)(WPARAM, LPARAM) = nullptr;
};

template <class T>
constexpr MessageMapEntry<T> OnCommand(UINT id, void (T::*handler)()) {
  return {MessageMapEntry<T>::Kind::Command, id, handler, nullptr};
}

template <class T>
constexpr MessageMapEntry<T> OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
  return {MessageMapEntry<T>::Kind::Message, message, nullptr, handler};
}

// Runs the first entry of map that matches; false when none does. Commands
// match WM_COMMAND notifications with code 0 (menu commands, button clicks).
template <class T, std::size_t N>
bool DispatchMessageMap(const MessageMapEntry<T> (&map)[N], T* window, UINT message, WPARAM wParam,
                        LPARAM lParam, LRESULT* result) {
  for (const auto& entry : map) {
    if (entry.kind == MessageMapEntry<T>::Kind::Message && entry.code == message) {
      *result = (window->*entry.onMessage)(wParam, lParam);
      return true;
    }
    if (entry.kind == MessageMapEntry<T>::Kind::Command && message == WM_COMMAND &&
        HIWORD(wParam) == 0 && entry.code == LOWORD(wParam)) {
      (window->*entry.onCommand)();
      *result = 0;
      return true;
    }
  }
  return false;
}

// ---- Windows ---------------------------------------------------------------------

class CWnd : public IWindowHandler {
 public:
  explicit CWnd(Platform& platform) : m_platform(platform) {}
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  ~CWnd() override;

  HWND m_hWnd = nullptr;

  bool HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) final;

  // Destroys the window; derived windows add their own clean-up.
  virtual BOOL DestroyWindow();

  // Binds this object to the control `id` of parent and routes the control's
  // messages here.
  BOOL SubclassDlgItem(int id, CWnd& parent);
  // Called before a control is bound, while its style may still be changed.
  virtual void PreSubclassWindow() {}
  // Owner drawing and colour requests, reflected from the parent.
  virtual void DrawItem(const DRAWITEMSTRUCT& item) { (void)item; }
  virtual HBRUSH CtlColor() { return nullptr; }

  // Thin wrappers over the platform, for this window.
  BOOL ShowWindow(int command);
  BOOL SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
  BOOL MoveWindow(int x, int y, int cx, int cy, BOOL repaint = TRUE);
  void SetWindowText(std::u16string_view text);
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC proc = nullptr);
  BOOL KillTimer(UINT_PTR id);
  BOOL GetWindowRect(RECT* rect);
  BOOL GetClientRect(RECT* rect);
  BOOL Invalidate(BOOL erase = TRUE);
  BOOL EnableWindow(BOOL enable);
  LONG GetStyle();
  HWND GetDlgItem(int id);
  HWND GetParent();
  HWND SetFocus();
  int MessageBox(std::u16string_view text, std::u16string_view caption, UINT type = MB_OK);

  [[nodiscard]] Platform& platform() const { return m_platform; }
  [[nodiscard]] IWindows& windows() const { return m_platform.windows; }

 protected:
  // The window's own handling; false hands the message to the default
  // processing. Derived classes consult their message map, then the base.
  virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // The default processing of the message being handled now.
  LRESULT Default();
  // Controls bound to this window get their reflected notifications.
  void AddBoundControl(CWnd& control) { m_boundControls.push_back(&control); }

 private:
  CWnd* FindBoundControl(HWND hwnd);

  Platform& m_platform;
  std::vector<CWnd*> m_boundControls;
  MSG m_current{};
};

class CButton : public CWnd {
 public:
  using CWnd::CWnd;
  int GetCheck() { return static_cast<int>(SendMessage(BM_GETCHECK)); }
  void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
};

// ---- Dialogs ---------------------------------------------------------------------

class CDialog : public CWnd {
 public:
  CDialog(CWinApp& app, const DialogTemplate& dialog, CWnd* parent = nullptr);

  // Creates the dialog, runs it until EndDialog and destroys it (through the
  // virtual DestroyWindow, so derived clean-up runs); returns the result
  // given to EndDialog, or -1 when the dialog could not be created.
  virtual INT_PTR DoModal();
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  void EndDialog(int result);

  // Control helpers.
  void CheckDlgButton(int id, UINT check);
  UINT IsDlgButtonChecked(int id);
  void SetDlgItemText(int id, std::u16string_view text);
  // At most maxChars characters: longer text is cut.
  std::u16string GetDlgItemText(int id, std::size_t maxChars);
  void EnableDlgItem(int id, BOOL enable);

  [[nodiscard]] CWinApp& app() const { return m_app; }
  [[nodiscard]] const DialogTemplate& dialogTemplate() const { return m_template; }

 protected:
  // Binds member controls to their dialog items; runs during OnInitDialog.
  virtual void DoDataExchange() {}
  void DDX_Control(int id, CWnd& control);

  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  CWinApp& m_app;
  const DialogTemplate& m_template;
  CWnd* m_pParent;
  bool m_bEndModal = false;
  int m_nModalResult = -1;
};

}  // namespace qx
