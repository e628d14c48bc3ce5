// Stand-in for the handheld's own programs in the end-to-end tests, copied
// under the names the programs start: "iexplore.exe" (the browser),
// "connmgr.exe" (the Connection Manager), "wmplayer.exe" and "player.exe"
// (the media players). Which one it is comes from its file name.
//
// Every start appends "<name> <command line>" to %WINDIR%\qx-starts.log, so
// a test can see what was started with what.
//
// - The browser's main window has class "IExplore", title "Internet
//   Explorer" and a client area 268 pixels high at (0, 26), as on the
//   handheld; a second start brings the running browser to the front and
//   ends. It ends when its window is closed.
// - A player's window has class "WMP", title "Windows Media"; it comes to
//   the front.
// - The Connection Manager has no window and runs until it is terminated.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kBrowserClass[] = L"IExplore";
constexpr wchar_t kBrowserTitle[] = L"Internet Explorer";
constexpr wchar_t kPlayerClass[] = L"WMP";
constexpr wchar_t kPlayerTitle[] = L"Windows Media";

std::wstring ProgramName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  const std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name = name.substr(slash + 1);
  for (wchar_t& c : name) c = static_cast<wchar_t>(towlower(c));
  return name;
}

void LogStart(const std::wstring& name, const wchar_t* arguments) {
  wchar_t directory[MAX_PATH] = {};
  GetWindowsDirectoryW(directory, MAX_PATH);
  const std::wstring path = std::wstring(directory) + L"\\qx-starts.log";
  const HANDLE log = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  const std::wstring line = name + L" " + arguments + L"\r\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                        nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(log, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(log);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(hwnd, &paint);
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      // A menu bar along the bottom, where the tray button goes.
      RECT bar{client.left, client.bottom - 22, client.right, client.bottom};
      FillRect(dc, &bar, GetSysColorBrush(COLOR_BTNFACE));
      wchar_t title[64] = {};
      GetWindowTextW(hwnd, title, 64);
      SetBkMode(dc, TRANSPARENT);
      TextOutW(dc, 6, 6, title, static_cast<int>(wcslen(title)));
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

int RunWindow(const wchar_t* className, const wchar_t* title, RECT rect) {
  if (const HWND running = FindWindowW(className, title)) {
    // Runs once: a second start shows the running one.
    ShowWindow(running, SW_SHOWNORMAL);
    SetForegroundWindow(running);
    return 0;
  }
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = className;
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowExW(0, className, title, WS_POPUP | WS_VISIBLE, rect.left, rect.top,
                                      rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) return 1;
  SetForegroundWindow(window);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR arguments, int) {
  const std::wstring name = ProgramName();
  LogStart(name, arguments != nullptr ? arguments : L"");
  // The handheld's work area: below the title bar, above the menu bar.
  constexpr RECT kWorkArea{0, 26, 240, 294};
  if (name == L"iexplore.exe") return RunWindow(kBrowserClass, kBrowserTitle, kWorkArea);
  if (name == L"wmplayer.exe" || name == L"player.exe") return RunWindow(kPlayerClass, kPlayerTitle, kWorkArea);
  // The Connection Manager (or anything else): a process without a window.
  Sleep(INFINITE);
  return 0;
}
