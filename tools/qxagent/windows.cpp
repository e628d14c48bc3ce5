// Windows as the user sees them: the top-level windows front to back, a
// dialog's controls, a message box; and what the
// device's shell does to windows (front, close, move, size).
#include <algorithm>
#include <map>
#include <memory>

#include "tools/qxagent/agent.h"

namespace qx::agent {
namespace {

bool SameClass(HWND hwnd, const wchar_t* name) { return _wcsicmp(ClassOf(hwnd).c_str(), name) == 0; }

std::vector<std::wstring> RectFields(const RECT& r) {
  return {Decimal(r.left), Decimal(r.top), Decimal(r.right), Decimal(r.bottom)};
}

void Append(std::vector<std::wstring>& to, std::vector<std::wstring> more) {
  to.insert(to.end(), more.begin(), more.end());
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND hwnd, LPARAM out) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

void Windows(const Fields&, Reply& reply) {
  std::map<DWORD, std::wstring> images;
  for (const auto& [pid, image] : ProcessList()) images[pid] = image;
  const HWND foreground = GetForegroundWindow();
  for (const HWND hwnd : TopLevelWindows()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    const std::wstring className = ClassOf(hwnd);
    // Left out as noise that is Wine's, not the device's (Wine 8.0): the
    // hidden "Default IME" window (class "IME") that every thread with
    // windows gets, and the hidden helpers of Wine's desktop process
    // explorer.exe (its DDE servers, "Shell_TrayWnd").
    if (className == L"IME" && !IsWindowVisible(hwnd)) continue;
    const auto image = images.find(pid);
    const std::wstring imageName = image != images.end() ? image->second : L"";
    if (_wcsicmp(imageName.c_str(), L"explorer.exe") == 0 && !IsWindowVisible(hwnd)) continue;
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    std::vector<std::wstring> line{L"w", Hex(hwnd), Decimal(pid), imageName, className, TitleOf(hwnd)};
    Append(line, RectFields(rect));
    const LONG_PTR exStyle = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    Append(line, {Flag(IsWindowVisible(hwnd)), Flag(IsWindowEnabled(hwnd)), Flag(exStyle & WS_EX_TOPMOST),
                  Hex(GetWindow(hwnd, GW_OWNER)), Flag(hwnd == foreground)});
    reply.Line(line);
  }
}

void Controls(const Fields& f, Reply& reply) {
  const HWND dialog = Window(f[0]);
  // Direct children only, in z-order (a drop-down list has children of
  // its own); a bound, since the program may make windows meanwhile.
  constexpr int kMostControls = 4096;
  int count = 0;
  for (HWND hwnd = GetWindow(dialog, GW_CHILD); hwnd != nullptr && count < kMostControls;
       hwnd = GetWindow(hwnd, GW_HWNDNEXT), ++count) {
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    const bool button = SameClass(hwnd, L"Button");
    const bool combo = SameClass(hwnd, L"ComboBox");
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    wchar_t styleHex[16];
    swprintf(styleHex, 16, L"%lx", static_cast<unsigned long>(style & 0xFFFFFFFF));
    // A picture's text is its resource's number behind U+FFFF, not text.
    std::wstring text = AskedText(hwnd);
    if (!text.empty() && text[0] == 0xFFFF) text.clear();
    std::vector<std::wstring> line{L"c", Hex(hwnd), Decimal(GetDlgCtrlID(hwnd)), ClassOf(hwnd), text,
                                   styleHex, Decimal(button ? SendBounded(hwnd, BM_GETCHECK, 0, 0) : 0),
                                   Flag(IsWindowEnabled(hwnd)), Flag(style & WS_VISIBLE)};
    Append(line, RectFields(rect));
    if (combo) {
      line.push_back(Decimal(SendBounded(hwnd, CB_GETCURSEL, 0, 0)));
      const LRESULT items = std::min<LRESULT>(SendBounded(hwnd, CB_GETCOUNT, 0, 0), 4096);
      for (LRESULT i = 0; i < items; ++i) {
        const LRESULT length = SendBounded(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring item(static_cast<std::size_t>(std::clamp<LRESULT>(length, 0, 1 << 16)) + 1, L'\0');
        if (length >= 0 && length < (1 << 16)) {
          const LRESULT copied = SendBounded(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
          item.resize(static_cast<std::size_t>(std::clamp<LRESULT>(copied, 0, length)));
        } else {
          item.clear();
        }
        line.push_back(item);
      }
    } else {
      line.push_back(L"-1");
    }
    reply.Line(line);
  }
}

// Message boxes are dialogs of the system's class; the programs' own
// dialogs are of class "Dialog".
HWND MessageBoxWindow(const std::wstring& field) {
  const HWND box = Window(field);
  if (!SameClass(box, L"#32770")) Fail(L"window " + field + L" is no message box (class \"" + ClassOf(box) + L"\")");
  return box;
}

void Box(const Fields& f, Reply& reply) {
  const HWND box = MessageBoxWindow(f[0]);
  std::wstring text;
  std::vector<int> buttons;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (SameClass(child, L"Static") && text.empty()) text = AskedText(child);
    if (SameClass(child, L"Button") && IsWindowVisible(child)) buttons.push_back(GetDlgCtrlID(child));
    if (buttons.size() > 64) break;
  }
  std::sort(buttons.begin(), buttons.end());
  std::wstring ids;
  for (const int id : buttons) ids += (ids.empty() ? L"" : L" ") + Decimal(id);
  reply.Line({L"b", TitleOf(box), text, ids});
}

// Moves and sizes are done by the window's own thread, which Win32 waits
// for: bounded.
void Positioned(HWND hwnd, int x, int y, int width, int height, UINT flags) {
  auto moved = std::make_shared<BOOL>(FALSE);
  if (!Bounded([=] { *moved = SetWindowPos(hwnd, nullptr, x, y, width, height, flags | SWP_NOZORDER | SWP_NOACTIVATE); },
               kAnswerMs)) {
    Fail(L"the window " + Hex(hwnd) + L" was not moved within " + std::to_wstring(kAnswerMs) + L" ms");
  }
  if (!*moved) FailCall(L"SetWindowPos");
}

int Coordinate(const std::wstring& field, const wchar_t* what) {
  return static_cast<int>(Integer(field, what, -100000, 100000));
}

void Front(const Fields& f, Reply&) {
  if (!Activate(Window(f[0]))) Fail(L"the window " + f[0] + L" was not brought to the front");
}

void Close(const Fields& f, Reply&) {
  if (!PostMessageW(Window(f[0]), WM_CLOSE, 0, 0)) FailCall(L"PostMessageW");
}

void MoveWindowRequest(const Fields& f, Reply&) {
  const HWND hwnd = Window(f[0]);
  const int width = static_cast<int>(Integer(f[3], L"a width", 0, 100000));
  const int height = static_cast<int>(Integer(f[4], L"a height", 0, 100000));
  Positioned(hwnd, Coordinate(f[1], L"X"), Coordinate(f[2], L"Y"), width, height, 0);
}

void ClientHeight(const Fields& f, Reply&) {
  const HWND hwnd = Window(f[0]);
  const int pixels = static_cast<int>(Integer(f[1], L"a height", 0, 100000));
  RECT window{};
  RECT client{};
  GetWindowRect(hwnd, &window);
  GetClientRect(hwnd, &client);
  const int frame = (window.bottom - window.top) - client.bottom;
  Positioned(hwnd, 0, 0, window.right - window.left, pixels + frame, SWP_NOMOVE);
  GetClientRect(hwnd, &client);
  if (client.bottom != pixels) {
    Fail(L"the window's client area is " + std::to_wstring(client.bottom) + L" pixels high, not " + f[1]);
  }
}

}  // namespace

void AddWindowRequests(Requests& requests) {
  requests.push_back({"windows", "windows", 0, Windows});
  requests.push_back({"controls", "controls HWND", 1, Controls});
  requests.push_back({"box", "box HWND", 1, Box});
  requests.push_back({"front", "front HWND", 1, Front});
  requests.push_back({"close", "close HWND", 1, Close});
  requests.push_back({"move-window", "move-window HWND X Y W H", 5, MoveWindowRequest});
  requests.push_back({"client-height", "client-height HWND PIXELS", 2, ClientHeight});
}

}  // namespace qx::agent
