// What every part of the agent shares: failing a request, reading numbers
// and handles, waits that end, asking windows for their text.
#include "tools/qxagent/agent.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>

namespace qx::agent {

void Fail(const std::wstring& message) { throw Failure{message}; }

void FailCall(const wchar_t* call) {
  Fail(std::wstring(call) + L" failed: error " + std::to_wstring(GetLastError()));
}

namespace {

// The digits of a decimal number, without sign; nothing past `most`.
bool Magnitude(const std::wstring& digits, std::uint64_t most, std::uint64_t& value) {
  if (digits.empty() || digits.size() > 20) return false;
  value = 0;
  for (const wchar_t c : digits) {
    if (c < L'0' || c > L'9') return false;
    const std::uint64_t d = static_cast<std::uint64_t>(c - L'0');
    if (value > (most - d) / 10) return false;
    value = value * 10 + d;
  }
  return true;
}

}  // namespace

std::int64_t Integer(const std::wstring& field, const wchar_t* what, std::int64_t least, std::int64_t most) {
  const bool negative = !field.empty() && field[0] == L'-';
  const std::wstring digits = negative ? field.substr(1) : field;
  std::uint64_t magnitude = 0;
  const std::uint64_t limit = negative ? static_cast<std::uint64_t>(-(least + 1)) + 1 : static_cast<std::uint64_t>(most);
  if ((negative && least >= 0) || (!negative && most < 0) || !Magnitude(digits, limit, magnitude)) {
    Fail(std::wstring(what) + L" must be a number from " + std::to_wstring(least) + L" to " + std::to_wstring(most) +
         L", not \"" + field + L"\"");
  }
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

std::uint64_t Unsigned(const std::wstring& field, const wchar_t* what, std::uint64_t most) {
  std::uint64_t value = 0;
  if (!Magnitude(field, most, value)) {
    Fail(std::wstring(what) + L" must be a number from 0 to " + std::to_wstring(most) + L", not \"" + field + L"\"");
  }
  return value;
}

std::uint64_t Word(const std::wstring& field, const wchar_t* what) {
  if (!field.empty() && field[0] == L'-') {
    return static_cast<std::uint64_t>(Integer(field, what, INT64_MIN, INT64_MAX));
  }
  return Unsigned(field, what, UINT64_MAX);
}

UINT NumberMessage(const std::wstring& field) {
  const auto message = static_cast<UINT>(Unsigned(field, L"a message", UINT32_MAX));
  // The messages whose WPARAM or LPARAM Win32 reads as an address of the
  // sender's (Wine copies them across processes from there): window
  // records, text, and the list, combo box, edit and scroll bar messages
  // that carry strings or rectangles.
  static constexpr UINT kPointerMessages[] = {
      WM_CREATE, WM_SETTEXT, WM_GETTEXT, WM_SETTINGCHANGE, WM_DEVMODECHANGE, WM_GETMINMAXINFO, WM_DRAWITEM,
      WM_MEASUREITEM, WM_DELETEITEM, WM_COMPAREITEM, WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_COPYDATA,
      WM_NOTIFY, WM_HELP, WM_STYLECHANGING, WM_STYLECHANGED, WM_NCCREATE, WM_NCCALCSIZE, WM_GETDLGCODE,
      WM_NEXTMENU, WM_SIZING, WM_MOVING, WM_MDICREATE, WM_DEVICECHANGE, WM_ASKCBFORMATNAME,
      EM_GETSEL, EM_GETRECT, EM_SETRECT, EM_SETRECTNP, EM_REPLACESEL, EM_GETLINE, EM_SETTABSTOPS,
      SBM_GETRANGE, SBM_SETSCROLLINFO, SBM_GETSCROLLINFO, SBM_GETSCROLLBARINFO,
      CB_GETEDITSEL, CB_ADDSTRING, CB_DIR, CB_GETLBTEXT, CB_INSERTSTRING, CB_FINDSTRING, CB_SELECTSTRING,
      CB_GETDROPPEDCONTROLRECT, CB_FINDSTRINGEXACT,
      LB_ADDSTRING, LB_INSERTSTRING, LB_GETTEXT, LB_SELECTSTRING, LB_DIR, LB_FINDSTRING, LB_GETSELITEMS,
      LB_SETTABSTOPS, LB_ADDFILE, LB_GETITEMRECT, LB_FINDSTRINGEXACT};
  for (const UINT pointer : kPointerMessages) {
    if (message == pointer) {
      Fail(L"message " + std::to_wstring(message) + L" carries an address; the agent sends only messages of numbers");
    }
  }
  return message;
}

HWND Handle(const std::wstring& field) {
  if (field.empty() || field.size() > 16) Fail(L"a window handle is 1 to 16 hex digits, not \"" + field + L"\"");
  std::uint64_t value = 0;
  for (const wchar_t c : field) {
    int d = -1;
    if (c >= L'0' && c <= L'9') d = c - L'0';
    if (c >= L'a' && c <= L'f') d = c - L'a' + 10;
    if (c >= L'A' && c <= L'F') d = c - L'A' + 10;
    if (d < 0) Fail(L"a window handle is hex digits, not \"" + field + L"\"");
    value = value * 16 + static_cast<std::uint64_t>(d);
  }
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
}

HWND Window(const std::wstring& field) {
  const HWND hwnd = Handle(field);
  if (!IsWindow(hwnd)) Fail(L"no window " + field);
  return hwnd;
}

std::wstring Hex(HWND hwnd) {
  wchar_t text[24];
  swprintf(text, 24, L"%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(hwnd)));
  return text;
}

std::wstring Decimal(std::int64_t n) { return std::to_wstring(n); }
std::wstring Flag(bool on) { return on ? L"1" : L"0"; }

namespace {

struct BoundedWork {
  std::function<void()> work;
  std::exception_ptr error;
  HANDLE done = nullptr;
  ~BoundedWork() {
    if (done != nullptr) CloseHandle(done);
  }
};

DWORD WINAPI RunBounded(LPVOID parameter) {
  // The thread's own share: the waiter may have stopped waiting.
  const std::unique_ptr<std::shared_ptr<BoundedWork>> share(static_cast<std::shared_ptr<BoundedWork>*>(parameter));
  BoundedWork& task = **share;
  try {
    task.work();
  } catch (...) {
    task.error = std::current_exception();
  }
  SetEvent(task.done);
  return 0;
}

}  // namespace

bool Bounded(std::function<void()> work, DWORD ms) {
  auto task = std::make_shared<BoundedWork>();
  task->work = std::move(work);
  task->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (task->done == nullptr) FailCall(L"CreateEventW");
  auto* share = new std::shared_ptr<BoundedWork>(task);
  const HANDLE thread = CreateThread(nullptr, 0, RunBounded, share, 0, nullptr);
  if (thread == nullptr) {
    delete share;
    FailCall(L"CreateThread");
  }
  CloseHandle(thread);
  if (WaitForSingleObject(task->done, ms) != WAIT_OBJECT_0) return false;
  if (task->error) std::rethrow_exception(task->error);
  return true;
}

LRESULT SendBounded(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerMs, &result)) {
    Fail(L"the window " + Hex(hwnd) + L" did not answer message " + std::to_wstring(message) + L" within " +
         std::to_wstring(kAnswerMs) + L" ms");
  }
  return static_cast<LRESULT>(result);
}

std::wstring AskedText(HWND hwnd) {
  // Room for the length it gives, and a little more: the text may grow
  // between the two questions (it is then cut, not overrun).
  constexpr LRESULT kMost = 1 << 20;
  const LRESULT length = SendBounded(hwnd, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return L"";
  std::wstring text(static_cast<std::size_t>(std::min(length, kMost)) + 16, L'\0');
  const LRESULT copied = SendBounded(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::clamp<LRESULT>(copied, 0, static_cast<LRESULT>(text.size()) - 1)));
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[260] = {};
  GetClassNameW(hwnd, name, 260);
  return name;
}

std::wstring TitleOf(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return L"";
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(std::max(0, GetWindowTextW(hwnd, text.data(), length + 1))));
  return text;
}

HWND OpenPopupMenu() {
  HWND found = nullptr;
  EnumWindows(
      [](HWND hwnd, LPARAM out) -> BOOL {
        if (!IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32768") return TRUE;
        *reinterpret_cast<HWND*>(out) = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

bool Activate(HWND topLevel) {
  // Wine lets any process set the foreground (no foreground lock), so no
  // AttachThreadInput is needed. Activation alone does not always raise
  // the window (not when its thread shares its input with another's, as a
  // child window of another program makes it), so it is raised too; its
  // own thread does that, and Win32 waits for it: bounded.
  if (!SetForegroundWindow(topLevel)) return false;
  auto raised = std::make_shared<BOOL>(FALSE);
  const bool done = Bounded(
      [=] { *raised = SetWindowPos(topLevel, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE); }, kAnswerMs);
  return done && *raised;
}

std::vector<std::pair<DWORD, std::wstring>> ProcessList() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) FailCall(L"CreateToolhelp32Snapshot");
  std::vector<std::pair<DWORD, std::wstring>> list;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    list.emplace_back(entry.th32ProcessID, entry.szExeFile);
  }
  CloseHandle(snapshot);
  return list;
}

}  // namespace qx::agent
