// Shared by the Win32 backend's translation units: the service classes and
// the conversions between the platform's types and Win32's.
//
// platform/platform.h comes first: its constants carry Win32's names, and
// once <windows.h> is in, those names are Win32's macros.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace qx::win32 {
// Platform constants whose names <windows.h> takes over as macros.
inline const qx::HANDLE kInvalidHandle = qx::INVALID_HANDLE_VALUE;
}  // namespace qx::win32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// <windows.h> defines these as function-like macros with other arities; the
// platform's methods of the same name must stay plain names.
#undef CreateDialogIndirectW

// Win32's predefined roots, named here at global scope: inside namespace qx
// the macros' casts would pick the platform's types of the same names.
inline const ::HKEY kWin32ClassesRoot = HKEY_CLASSES_ROOT;
inline const ::HKEY kWin32CurrentUser = HKEY_CURRENT_USER;
inline const ::HKEY kWin32LocalMachine = HKEY_LOCAL_MACHINE;

namespace qx::win32 {

// A program the scenario runner started sees the services through the
// observed platform (observe_win32.cpp, linked into the runner's builds
// only); none otherwise.
class Observation {
 public:
  virtual ~Observation() = default;
  virtual Platform& platform() = 0;
};
std::unique_ptr<Observation> ObserveFromEnvironment(Platform& services);

// ---- Conversions ---------------------------------------------------------------

// Handles: the platform's opaque handle types carry Win32's values unchanged.
inline ::HWND W(qx::HWND h) { return reinterpret_cast<::HWND>(h); }
inline qx::HWND Q(::HWND h) { return reinterpret_cast<qx::HWND>(h); }
inline ::HMENU W(qx::HMENU h) { return reinterpret_cast<::HMENU>(h); }
inline qx::HMENU Q(::HMENU h) { return reinterpret_cast<qx::HMENU>(h); }
inline ::HICON W(qx::HICON h) { return reinterpret_cast<::HICON>(h); }
inline qx::HICON Q(::HICON h) { return reinterpret_cast<qx::HICON>(h); }
inline ::HDC W(qx::HDC h) { return reinterpret_cast<::HDC>(h); }
inline qx::HDC Q(::HDC h) { return reinterpret_cast<qx::HDC>(h); }

// Text: char16_t and mingw's wchar_t are both UTF-16 code units.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
// A terminated copy for the Win32 calls that take C strings.
inline std::wstring Wz(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// A terminated copy of a short name on the stack: the poll looks windows up
// by class and title five times a second and must not allocate to do it.
// Names that do not fit (no window class or title the programs use is that
// long) go to the heap.
class ShortWz {
 public:
  explicit ShortWz(std::u16string_view text) {
    if (text.size() < inline_.size()) {
      std::copy(text.begin(), text.end(), inline_.begin());
      inline_[text.size()] = L'\0';
    } else {
      long_ = Wz(text);
    }
  }
  [[nodiscard]] const wchar_t* c_str() const { return long_.empty() ? inline_.data() : long_.c_str(); }

 private:
  std::array<wchar_t, 128> inline_{};
  std::wstring long_;
};
inline const wchar_t* Wp(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wp(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// The module whose resources (dialogs, menu, icons) belong to the program:
// the one this backend is linked into, an executable or a DLL alike.
::HMODULE OwnModule();

// ---- Services --------------------------------------------------------------------

class Registry final : public IRegistry {
 public:
  LONG RegOpenKeyExW(qx::HKEY key, std::u16string_view subKey, REGSAM access, qx::HKEY* result) override;
  LONG RegCreateKeyExW(qx::HKEY key, std::u16string_view subKey, REGSAM access, qx::HKEY* result,
                       DWORD* disposition) override;
  LONG RegQueryValueExW(qx::HKEY key, std::u16string_view name, DWORD* type, std::span<BYTE> data,
                        DWORD* size) override;
  LONG RegSetValueExW(qx::HKEY key, std::u16string_view name, DWORD type, std::span<const BYTE> data) override;
  LONG RegEnumKeyExW(qx::HKEY key, DWORD index, std::span<char16_t> name, DWORD* length) override;
  LONG RegDeleteKeyW(qx::HKEY key, std::u16string_view subKey) override;
  LONG RegCloseKey(qx::HKEY key) override;
};

class Windows final : public IWindows {
 public:
  Windows();
  ~Windows() override;
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;

  qx::HWND FindWindowW(std::u16string_view className, std::u16string_view title) override;
  qx::HWND WindowFromPoint(qx::POINT point) override;
  qx::HWND GetParent(qx::HWND hwnd) override;
  qx::HWND GetForegroundWindow() override;
  BOOL SetForegroundWindow(qx::HWND hwnd) override;
  qx::HWND GetDesktopWindow() override;
  BOOL EnumWindows(qx::WNDENUMPROC proc, qx::LPARAM lParam) override;
  BOOL EnumThreadWindows(qx::WNDENUMPROC proc, qx::LPARAM lParam) override;
  BOOL IsWindow(qx::HWND hwnd) override;
  BOOL IsWindowVisible(qx::HWND hwnd) override;
  BOOL IsWindowEnabled(qx::HWND hwnd) override;
  int GetClassNameW(qx::HWND hwnd, std::span<char16_t> text) override;
  int GetWindowTextW(qx::HWND hwnd, std::span<char16_t> text) override;
  BOOL SetWindowTextW(qx::HWND hwnd, std::u16string_view text) override;
  BOOL GetWindowRect(qx::HWND hwnd, qx::RECT* rect) override;
  BOOL GetClientRect(qx::HWND hwnd, qx::RECT* rect) override;
  BOOL ScreenToClient(qx::HWND hwnd, qx::POINT* point) override;
  BOOL GetCursorPos(qx::POINT* point) override;
  LONG GetWindowStyle(qx::HWND hwnd) override;
  void SetWindowStyle(qx::HWND hwnd, LONG style) override;
  BOOL ShowWindow(qx::HWND hwnd, int command) override;
  BOOL SetWindowPos(qx::HWND hwnd, qx::HWND insertAfter, int x, int y, int cx, int cy, qx::UINT flags) override;
  BOOL MoveWindow(qx::HWND hwnd, int x, int y, int cx, int cy, BOOL repaint) override;
  BOOL EnableWindow(qx::HWND hwnd, BOOL enable) override;
  BOOL DestroyWindow(qx::HWND hwnd) override;
  qx::HWND SetFocus(qx::HWND hwnd) override;
  qx::HWND GetFocus() override;
  BOOL InvalidateRect(qx::HWND hwnd, BOOL erase) override;
  BOOL CommandBar_Show(qx::HWND hwnd, BOOL show) override;
  qx::HWND CreateDialogIndirectW(const DialogTemplate& dialog, qx::HWND parent, IWindowHandler* handler) override;
  qx::HWND GetDlgItem(qx::HWND dialog, int id) override;
  int GetDlgCtrlID(qx::HWND hwnd) override;
  qx::HWND GetNextDlgTabItem(qx::HWND dialog, qx::HWND control, BOOL previous) override;
  BOOL SubclassWindow(qx::HWND hwnd, IWindowHandler* handler) override;
  qx::LRESULT CallDefaultProc(qx::HWND hwnd, qx::UINT message, qx::WPARAM wParam, qx::LPARAM lParam) override;
  qx::BOOL InSendMessage() override;
  qx::LRESULT SendMessageW(qx::HWND hwnd, qx::UINT message, qx::WPARAM wParam, qx::LPARAM lParam) override;
  BOOL PostMessageW(qx::HWND hwnd, qx::UINT message, qx::WPARAM wParam, qx::LPARAM lParam) override;
  BOOL GetMessageW(qx::MSG* msg) override;
  BOOL IsDialogMessageW(qx::HWND dialog, qx::MSG* msg) override;
  qx::LRESULT DispatchMessageW(const qx::MSG* msg) override;
  void PostQuitMessage(int exitCode) override;
  qx::UINT_PTR SetTimer(qx::HWND hwnd, qx::UINT_PTR id, qx::UINT elapseMs, qx::TIMERPROC proc) override;
  BOOL KillTimer(qx::HWND hwnd, qx::UINT_PTR id) override;
  int MessageBoxW(qx::HWND owner, std::u16string_view text, std::u16string_view caption, qx::UINT type) override;
  BOOL EndDialog(qx::HWND box, qx::INT_PTR result) override;
  qx::HMENU LoadMenuW(const MenuTemplate& menu) override;
  qx::HMENU GetSubMenu(qx::HMENU menu, int position) override;
  BOOL RemoveMenu(qx::HMENU menu, qx::UINT item, qx::UINT flags) override;
  DWORD CheckMenuItem(qx::HMENU menu, qx::UINT item, qx::UINT flags) override;
  BOOL TrackPopupMenu(qx::HMENU menu, qx::UINT flags, int x, int y, qx::HWND owner) override;
  BOOL EndMenu() override;
  BOOL DestroyMenu(qx::HMENU menu) override;
  COLORREF GetSysColor(int index) override;
  qx::HBRUSH GetStockObject(int object) override;
  void FillSolidRect(qx::HDC dc, const qx::RECT& rect, COLORREF color) override;
  void Draw3dRect(qx::HDC dc, const qx::RECT& rect, COLORREF topLeft, COLORREF bottomRight) override;
  qx::HICON LoadIconImage(int resourceId, int cx, int cy) override;
  BOOL DestroyIcon(qx::HICON icon) override;
  BOOL DrawIconEx(qx::HDC dc, int x, int y, qx::HICON icon, int cx, int cy, qx::UINT flags) override;

  // The routine SetTimer was given for a timer, or null.
  [[nodiscard]] qx::TIMERPROC TimerRoutineOf(::HWND hwnd, ::UINT_PTR id) const;

 private:
  // Keeps a timer's routine; null forgets it.
  void SetTimerRoutine(::HWND hwnd, ::UINT_PTR id, qx::TIMERPROC proc);

  // The last message GetMessageW fetched, whole: Win32 wants its time and
  // cursor position back when it is dispatched.
  ::MSG last_{};
  // Timer routines by (window, id): Win32 calls a routine of its own type.
  // A program has a timer or two, so a list searched from its start (a map
  // would bring the library's tree code into every program).
  struct TimerRoutine {
    ::HWND hwnd;
    ::UINT_PTR id;
    qx::TIMERPROC proc;
  };
  std::vector<TimerRoutine> timerProcs_;
};

class Processes final : public IProcesses {
 public:
  ~Processes() override;
  qx::HMODULE LoadLibraryW(std::u16string_view name) override;
  BOOL FreeLibrary(qx::HMODULE module) override;
  qx::HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) override;
  BOOL Process32FirstW(qx::HANDLE snapshot, qx::PROCESSENTRY32W* entry) override;
  BOOL Process32NextW(qx::HANDLE snapshot, qx::PROCESSENTRY32W* entry) override;
  BOOL CloseToolhelp32Snapshot(qx::HANDLE snapshot) override;
  qx::HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override;
  BOOL TerminateProcess(qx::HANDLE process, qx::UINT exitCode) override;
  BOOL CloseHandle(qx::HANDLE handle) override;
  BOOL ShellExecuteExW(qx::SHELLEXECUTEINFOW* info) override;
  void Sleep(DWORD milliseconds) override;
  DWORD GetLastError() override;
  std::u16string GetModuleFileNameW() override;

 private:
  struct Toolhelp;
  // The snapshot functions of "toolhelp.dll", loaded while a snapshot is
  // open; null when the library is not there.
  Toolhelp* LoadToolhelp();
  // Starts a program file without the shell; false leaves it to the shell.
  bool StartExecutable(qx::SHELLEXECUTEINFOW* info);
  std::unique_ptr<Toolhelp> toolhelp_;
  int openSnapshots_ = 0;
};

class DialUp final : public IDialUp {
 public:
  DWORD RasEnumConnectionsW(std::span<qx::RASCONN> records, DWORD* bytes, DWORD* count) override;
  DWORD RasHangUpW(qx::HRASCONN connection) override;
};

class Files final : public IFiles {
 public:
  qx::HANDLE CreateFileW(std::u16string_view path, DWORD access, DWORD share, DWORD disposition) override;
  BOOL ReadFile(qx::HANDLE file, std::span<BYTE> buffer, DWORD* read) override;
  BOOL WriteFile(qx::HANDLE file, std::span<const BYTE> data, DWORD* written) override;
  DWORD SetFilePointer(qx::HANDLE file, LONG distance, DWORD method) override;
  BOOL SetEndOfFile(qx::HANDLE file) override;
  BOOL CloseHandle(qx::HANDLE file) override;
};

class CodePage final : public ICodePage {
 public:
  std::string WideCharToMultiByte(qx::UINT codePage, std::u16string_view text) override;
  std::u16string MultiByteToWideChar(qx::UINT codePage, std::string_view bytes) override;
};

class Power final : public IPower {
 public:
  BOOL KernelIoControl(DWORD code, std::span<const BYTE> in, std::span<BYTE> out, DWORD* returned) override;
};

}  // namespace qx::win32
