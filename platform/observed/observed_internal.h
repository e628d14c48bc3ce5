// The observed platform's inside, shared by its source files: what the
// decorators know of the program (its keys' paths, its menus, the processes
// it has seen, the handles it holds) and the decorator classes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/observed/observed.h"
#include "platform/observed/text.h"

namespace qx::observed {

// The kinds of handle a program may leave open, named as the simulated
// device names them.
enum class Held { RegistryKey, File, Process, Snapshot, Window, Menu, Icon, Timer, Library };
std::string_view HeldName(Held kind);

struct ObservedPlatform::State {
  State(Platform& innerPlatform, Observer& watcher) : inner(innerPlatform), observer(watcher) {}

  Platform& inner;
  Observer& observer;
  std::u16string image;  // the program's own file

  // Counts the call; a planned fault answers it: true, with the last error
  // set.
  bool Fails(Call call, LONG* error = nullptr);

  // ---- handles the program holds, as the simulated device books them
  struct Handle {
    std::string what;
    bool refused = false;
    HWND window = nullptr;  // a timer's window
  };
  std::map<std::pair<Held, std::uintptr_t>, Handle> held;
  void Opened(Held kind, std::uintptr_t value, std::string what, HWND window = nullptr);
  void Closed(Held kind, std::uintptr_t value);
  void Refused(Held kind, std::uintptr_t value);

  // ---- what the program has been told
  std::map<std::uintptr_t, std::u16string> keyPaths;      // open key -> its full path
  std::map<DWORD, std::u16string> images;                 // process id -> file, from its snapshots
  std::map<std::uintptr_t, DWORD> processes;              // process handle -> id
  std::map<std::uintptr_t, std::u16string> connections;  // dial-up handle -> entry name
  std::map<std::uintptr_t, int> libraries;                // loads not yet freed
  std::map<std::uintptr_t, std::u16string> files;         // open file -> path
  std::map<std::uintptr_t, std::uint64_t> positions;      // open file -> where the next read or write goes

  // The program's menus as it has shaped them (the platform has no call to
  // read a menu back): entries by id, sub-menus by the handle GetSubMenu gave.
  struct MenuItem {
    UINT id = 0;
    std::u16string text;
    bool checked = false;
    bool separator = false;
    std::uintptr_t popup = 0;
  };
  std::map<std::uintptr_t, std::vector<MenuItem>> menus;
  bool tracking = false;                  // inside TrackPopupMenu
  bool resetting = false;                 // the program soft-reset the device: it does not end by itself
  std::vector<std::uintptr_t> boxesEnded;  // boxes the program ended itself
  std::map<std::pair<std::uintptr_t, UINT_PTR>, TIMERPROC> timerProcs;

  // "HKEY_LOCAL_MACHINE\SOFTWARE\..." for a key and a path below it.
  std::u16string KeyPath(HKEY key, std::u16string_view subKey) const;
  // A window as the simulated device labels it: "\"Title\" (Class of x.exe)".
  std::string Label(HWND hwnd);
  std::string BaseName(DWORD processId);
  void Write(Record record, const std::vector<std::string>& fields) { observer.Write(record, fields); }
};

#define QX_OBSERVED(call, failure)              \
  if (state_.Fails(Call::call)) return failure;

class ObservedPlatform::Registry final : public IRegistry {
 public:
  explicit Registry(State& state) : state_(state) {}
  LONG RegOpenKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result) override;
  LONG RegCreateKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result,
                       DWORD* disposition) override;
  LONG RegQueryValueExW(HKEY key, std::u16string_view name, DWORD* type, std::span<BYTE> data, DWORD* size) override;
  LONG RegSetValueExW(HKEY key, std::u16string_view name, DWORD type, std::span<const BYTE> data) override;
  LONG RegEnumKeyExW(HKEY key, DWORD index, std::span<char16_t> name, DWORD* length) override;
  LONG RegDeleteKeyW(HKEY key, std::u16string_view subKey) override;
  LONG RegCloseKey(HKEY key) override;

 private:
  State& state_;
};

class ObservedPlatform::Processes final : public IProcesses {
 public:
  explicit Processes(State& state) : state_(state) {}
  HMODULE LoadLibraryW(std::u16string_view name) override;
  BOOL FreeLibrary(HMODULE module) override;
  HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) override;
  BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) override;
  BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) override;
  BOOL CloseToolhelp32Snapshot(HANDLE snapshot) override;
  HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override;
  BOOL TerminateProcess(HANDLE process, UINT exitCode) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) override;
  void Sleep(DWORD milliseconds) override;
  DWORD GetLastError() override;
  std::u16string GetModuleFileNameW() override;

 private:
  State& state_;
};

class ObservedPlatform::DialUp final : public IDialUp {
 public:
  explicit DialUp(State& state) : state_(state) {}
  DWORD RasEnumConnectionsW(std::span<RASCONN> records, DWORD* bytes, DWORD* count) override;
  DWORD RasHangUpW(HRASCONN connection) override;

 private:
  State& state_;
};

class ObservedPlatform::Files final : public IFiles {
 public:
  explicit Files(State& state) : state_(state) {}
  HANDLE CreateFileW(std::u16string_view path, DWORD access, DWORD share, DWORD disposition) override;
  BOOL ReadFile(HANDLE file, std::span<BYTE> buffer, DWORD* read) override;
  BOOL WriteFile(HANDLE file, std::span<const BYTE> data, DWORD* written) override;
  DWORD SetFilePointer(HANDLE file, LONG distance, DWORD method) override;
  BOOL SetEndOfFile(HANDLE file) override;
  BOOL CloseHandle(HANDLE file) override;

 private:
  State& state_;
};

class ObservedPlatform::CodePage final : public ICodePage {
 public:
  explicit CodePage(State& state) : state_(state) {}
  std::string WideCharToMultiByte(UINT codePage, std::u16string_view text) override;
  std::u16string MultiByteToWideChar(UINT codePage, std::string_view bytes) override;

 private:
  State& state_;
};

class ObservedPlatform::Power final : public IPower {
 public:
  explicit Power(State& state) : state_(state) {}
  BOOL KernelIoControl(DWORD code, std::span<const BYTE> in, std::span<BYTE> out, DWORD* returned) override;

 private:
  State& state_;
};

class ObservedPlatform::Windows final : public IWindows {
 public:
  explicit Windows(State& state) : state_(state) {}
  HWND FindWindowW(std::u16string_view className, std::u16string_view title) override;
  HWND WindowFromPoint(POINT point) override;
  HWND GetParent(HWND hwnd) override;
  HWND GetForegroundWindow() override;
  BOOL SetForegroundWindow(HWND hwnd) override;
  HWND GetDesktopWindow() override;
  BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam) override;
  BOOL EnumThreadWindows(WNDENUMPROC proc, LPARAM lParam) override;
  BOOL IsWindow(HWND hwnd) override;
  BOOL IsWindowVisible(HWND hwnd) override;
  BOOL IsWindowEnabled(HWND hwnd) override;
  int GetClassNameW(HWND hwnd, std::span<char16_t> text) override;
  int GetWindowTextW(HWND hwnd, std::span<char16_t> text) override;
  BOOL SetWindowTextW(HWND hwnd, std::u16string_view text) override;
  BOOL GetWindowRect(HWND hwnd, RECT* rect) override;
  BOOL GetClientRect(HWND hwnd, RECT* rect) override;
  BOOL ScreenToClient(HWND hwnd, POINT* point) override;
  BOOL GetCursorPos(POINT* point) override;
  LONG GetWindowStyle(HWND hwnd) override;
  void SetWindowStyle(HWND hwnd, LONG style) override;
  BOOL ShowWindow(HWND hwnd, int command) override;
  BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override;
  BOOL MoveWindow(HWND hwnd, int x, int y, int cx, int cy, BOOL repaint) override;
  BOOL EnableWindow(HWND hwnd, BOOL enable) override;
  BOOL DestroyWindow(HWND hwnd) override;
  HWND SetFocus(HWND hwnd) override;
  HWND GetFocus() override;
  BOOL InvalidateRect(HWND hwnd, BOOL erase) override;
  BOOL CommandBar_Show(HWND hwnd, BOOL show) override;
  HWND CreateDialogIndirectW(const DialogTemplate& dialog, HWND parent, IWindowHandler* handler) override;
  HWND GetDlgItem(HWND dialog, int id) override;
  int GetDlgCtrlID(HWND hwnd) override;
  HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) override;
  BOOL SubclassWindow(HWND hwnd, IWindowHandler* handler) override;
  LRESULT CallDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL InSendMessage() override;
  LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL GetMessageW(MSG* msg) override;
  BOOL IsDialogMessageW(HWND dialog, MSG* msg) override;
  LRESULT DispatchMessageW(const MSG* msg) override;
  void PostQuitMessage(int exitCode) override;
  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) override;
  BOOL KillTimer(HWND hwnd, UINT_PTR id) override;
  int MessageBoxW(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override;
  BOOL EndDialog(HWND box, INT_PTR result) override;
  HMENU LoadMenuW(const MenuTemplate& menu) override;
  HMENU GetSubMenu(HMENU menu, int position) override;
  BOOL RemoveMenu(HMENU menu, UINT item, UINT flags) override;
  DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) override;
  BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) override;
  BOOL EndMenu() override;
  BOOL DestroyMenu(HMENU menu) override;
  COLORREF GetSysColor(int index) override;
  HBRUSH GetStockObject(int object) override;
  void FillSolidRect(HDC dc, const RECT& rect, COLORREF color) override;
  void Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) override;
  HICON LoadIconImage(int resourceId, int cx, int cy) override;
  BOOL DestroyIcon(HICON icon) override;
  BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT flags) override;

 private:
  IWindows& inner() { return state_.inner.windows; }
  State& state_;
};

inline std::uintptr_t Value(const void* handle) { return reinterpret_cast<std::uintptr_t>(handle); }

}  // namespace qx::observed
