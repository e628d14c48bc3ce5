// The end-to-end tests' UI driver: one step per run, acting as the user on
// the programs' windows from outside, the way a person would see them: by
// class and caption, control ids and texts. Prints what it finds; exits 1
// (with the reason on stderr) when a step cannot be done in time.
//
//   qxdrive wait CLASS TITLE [MS]         a visible window ("*" for any class)
//   qxdrive gone CLASS TITLE [MS]         no such visible window
//   qxdrive front CLASS TITLE             bring a window to the front
//   qxdrive windows                       list the visible top-level windows
//                                         (">" the foreground one)
//   qxdrive tap-tray                      tap the tray button over the browser
//   qxdrive menu N                        pick the Nth entry (0 first, separators
//                                         not counted) of the open popup menu
//   qxdrive box CAPTION                   print an open message box's text, then
//                                         its buttons ("buttons: OK Cancel")
//   qxdrive answer CAPTION BUTTON         press OK/Cancel/Yes/No of a message box
//   qxdrive dialog CAPTION                print a dialog's controls in their order:
//                                         class, id, kind, text, items, state
//   qxdrive type CAPTION ID TEXT          replace a field's text
//   qxdrive click CAPTION ID              press a button or check box
//   qxdrive pick CAPTION ID ITEM          select a list entry by its text
//   qxdrive send CLASS TITLE MSG [W [L]]  send a message (to a hidden window
//                                         too), print the result
//   qxdrive processes                     list this prefix's processes: "PID IMAGE"
//   qxdrive menu-resource FILE ID         print a program's menu resource, entry
//                                         by entry: "ID TEXT", "-" for a separator
//   qxdrive open FILE                     open a file as a tap in the file list
//                                         does: its type's open command runs
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultWaitMs = 10000;
constexpr wchar_t kMessageBoxClass[] = L"#32770";
constexpr wchar_t kMenuClass[] = L"#32768";

std::string Utf8(const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t text[1024] = {};
  GetWindowTextW(hwnd, text, 1024);
  return text;
}

// A control's current text: asked of the control itself, since the text
// GetWindowText sees in another program is the one it was created with.
std::wstring ControlText(HWND hwnd) {
  wchar_t text[1024] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &copied);
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

[[noreturn]] void Fail(const std::wstring& why) {
  std::fprintf(stderr, "qxdrive: %s\n", Utf8(why).c_str());
  std::exit(1);
}

struct Search {
  std::wstring className;  // empty: any
  std::wstring title;
  bool hiddenToo = false;
  HWND found = nullptr;
};

BOOL CALLBACK Match(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  if (!search->hiddenToo && !IsWindowVisible(hwnd)) return TRUE;
  if (!search->className.empty() && _wcsicmp(ClassOf(hwnd).c_str(), search->className.c_str()) != 0) return TRUE;
  if (TextOf(hwnd) != search->title) return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND FindVisible(const std::wstring& className, const std::wstring& title, bool hiddenToo = false) {
  Search search{className == L"*" ? L"" : className, title, hiddenToo};
  EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitFor(const std::wstring& className, const std::wstring& title, DWORD ms = kDefaultWaitMs,
             bool hiddenToo = false) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND hwnd = FindVisible(className, title, hiddenToo)) return hwnd;
    if (GetTickCount() - start > ms) Fail(L"no window \"" + title + L"\" of class " + className);
    Sleep(50);
  }
}

HWND Control(HWND dialog, int id) {
  const HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) Fail(L"no control " + std::to_wstring(id) + L" in \"" + TextOf(dialog) + L"\"");
  return control;
}

// What the user sees a control as, from its class and style.
std::wstring KindOf(HWND hwnd, LONG style) {
  const std::wstring className = ClassOf(hwnd);
  if (_wcsicmp(className.c_str(), L"Button") == 0) {
    switch (style & BS_TYPEMASK) {
      case BS_AUTOCHECKBOX: return L"check";
      case BS_GROUPBOX: return L"group";
      case BS_DEFPUSHBUTTON: return L"default";
      case BS_PUSHBUTTON: return L"push";
      case BS_OWNERDRAW: return L"owner-drawn";
      default: return L"button";
    }
  }
  if (_wcsicmp(className.c_str(), L"Static") == 0) {
    switch (style & SS_TYPEMASK) {
      case SS_BITMAP: return L"bitmap";
      case SS_ICON: return L"icon";
      case SS_RIGHT: return L"right";
      case SS_CENTER: return L"centre";
      default: return L"left";
    }
  }
  if (_wcsicmp(className.c_str(), L"Edit") == 0) return (style & ES_PASSWORD) ? L"password" : L"edit";
  if (_wcsicmp(className.c_str(), L"ComboBox") == 0) return L"list";
  return L"?";
}

BOOL CALLBACK PrintChild(HWND hwnd, LPARAM dialog) {
  // Only the dialog's own controls (a drop-down list has children of its own).
  if (GetParent(hwnd) != reinterpret_cast<HWND>(dialog)) return TRUE;
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  std::wstring line = ClassOf(hwnd) + L" " + std::to_wstring(GetDlgCtrlID(hwnd) == 0xFFFF ? -1 : GetDlgCtrlID(hwnd));
  // A password field shows its text masked, a picture its resource (not
  // text), a list its items (below).
  const std::wstring kind = KindOf(hwnd, style);
  const bool textShown = kind != L"password" && kind != L"bitmap" && kind != L"icon" && kind != L"list";
  const std::wstring text = textShown ? ControlText(hwnd) : L"";
  line += L" " + kind;
  if (!text.empty()) line += L" \"" + text + L"\"";
  if (_wcsicmp(ClassOf(hwnd).c_str(), L"Button") == 0) {
    const LRESULT check = SendMessageW(hwnd, BM_GETCHECK, 0, 0);
    if ((style & BS_TYPEMASK) == BS_AUTOCHECKBOX) line += check == BST_CHECKED ? L" [x]" : L" [ ]";
  }
  if (_wcsicmp(ClassOf(hwnd).c_str(), L"ComboBox") == 0) {
    const LRESULT count = SendMessageW(hwnd, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t item[256] = {};
      if (SendMessageW(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 256) {
        SendMessageW(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
      }
      line += L" \"" + std::wstring(item) + L"\"";
    }
    const LRESULT selection = SendMessageW(hwnd, CB_GETCURSEL, 0, 0);
    line += L" selection " + std::to_wstring(selection);
  }
  if (!IsWindowEnabled(hwnd)) line += L" (disabled)";
  if (!(style & WS_VISIBLE)) line += L" (hidden)";
  std::printf("  %s\n", Utf8(line).c_str());
  return TRUE;
}

BOOL CALLBACK PrintWindow(HWND hwnd, LPARAM) {
  if (!IsWindowVisible(hwnd)) return TRUE;
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  std::printf("%s\"%s\" (%s) %ld,%ld %ldx%ld%s\n", hwnd == GetForegroundWindow() ? ">" : " ",
              Utf8(TextOf(hwnd)).c_str(), Utf8(ClassOf(hwnd)).c_str(), rect.left, rect.top,
              rect.right - rect.left, rect.bottom - rect.top, IsWindowEnabled(hwnd) ? "" : " (disabled)");
  return TRUE;
}

int Button(const std::wstring& name) {
  if (name == L"OK") return IDOK;
  if (name == L"Cancel") return IDCANCEL;
  if (name == L"Yes") return IDYES;
  if (name == L"No") return IDNO;
  Fail(L"no such button: " + name);
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result)) {
    Fail(L"no answer from \"" + TextOf(hwnd) + L"\"");
  }
  return static_cast<LRESULT>(result);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  const auto arg = [&](std::size_t i) -> const std::wstring& {
    if (i >= args.size()) Fail(L"missing argument");
    return args[i];
  };
  const auto number = [&](std::size_t i) { return std::wcstol(arg(i).c_str(), nullptr, 0); };
  const std::wstring step = arg(0);

  if (step == L"wait") {
    WaitFor(arg(1), arg(2), args.size() > 3 ? static_cast<DWORD>(number(3)) : kDefaultWaitMs);
  } else if (step == L"gone") {
    const DWORD ms = args.size() > 3 ? static_cast<DWORD>(number(3)) : kDefaultWaitMs;
    const DWORD start = GetTickCount();
    while (FindVisible(arg(1), arg(2)) != nullptr) {
      if (GetTickCount() - start > ms) Fail(L"the window \"" + arg(2) + L"\" is still there");
      Sleep(50);
    }
  } else if (step == L"front") {
    const HWND hwnd = WaitFor(arg(1), arg(2));
    SetForegroundWindow(hwnd);
  } else if (step == L"windows") {
    EnumWindows(PrintWindow, 0);
  } else if (step == L"tap-tray") {
    // The tray window is shown titled like the browser, over its menu bar.
    const HWND tray = WaitFor(L"Dialog", L"Internet Explorer");
    const HWND button = Control(tray, 1005);
    RECT client{};
    GetClientRect(button, &client);
    const LPARAM centre = MAKELPARAM((client.right) / 2, (client.bottom) / 2);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    PostMessageW(button, WM_LBUTTONUP, 0, centre);
  } else if (step == L"menu") {
    // Keys go to the menu's own loop in the program that opened it: the
    // first Down selects the first entry, Enter picks the selected one.
    const HWND menu = WaitFor(kMenuClass, L"");
    const long index = number(1);
    for (long i = 0; i <= index; ++i) PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_CHAR, L'\r', 0);
  } else if (step == L"box") {
    const HWND box = WaitFor(kMessageBoxClass, arg(1));
    EnumChildWindows(box, [](HWND child, LPARAM) -> BOOL {
      if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0 && !TextOf(child).empty()) {
        std::printf("%s\n", Utf8(TextOf(child)).c_str());
      }
      return TRUE;
    }, 0);
    // Which answers the box offers (their labels are the system's own).
    std::printf("buttons:");
    for (const wchar_t* name : {L"OK", L"Cancel", L"Yes", L"No"}) {
      const HWND button = GetDlgItem(box, Button(name));
      if (button != nullptr && IsWindowVisible(button)) std::printf(" %s", Utf8(name).c_str());
    }
    std::printf("\n");
  } else if (step == L"answer") {
    const HWND box = WaitFor(kMessageBoxClass, arg(1));
    const int button = Button(arg(2));
    SetForegroundWindow(box);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
  } else if (step == L"dialog") {
    const HWND dialog = WaitFor(L"*", arg(1));
    std::printf("\"%s\" (%s)\n", Utf8(TextOf(dialog)).c_str(), Utf8(ClassOf(dialog)).c_str());
    EnumChildWindows(dialog, PrintChild, reinterpret_cast<LPARAM>(dialog));
  } else if (step == L"type") {
    const HWND dialog = WaitFor(L"*", arg(1));
    Send(Control(dialog, static_cast<int>(number(2))), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(3).c_str()));
  } else if (step == L"click") {
    const HWND dialog = WaitFor(L"*", arg(1));
    const HWND control = Control(dialog, static_cast<int>(number(2)));
    if (!IsWindowEnabled(control)) Fail(L"control " + arg(2) + L" is disabled");
    SetForegroundWindow(dialog);
    PostMessageW(control, BM_CLICK, 0, 0);
  } else if (step == L"pick") {
    const HWND dialog = WaitFor(L"*", arg(1));
    const int id = static_cast<int>(number(2));
    const HWND list = Control(dialog, id);
    const LRESULT index = Send(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(arg(3).c_str()));
    if (index == CB_ERR) Fail(L"the list has no entry \"" + arg(3) + L"\"");
    Send(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  } else if (step == L"send") {
    // Messages go to hidden windows too (the tray window while the browser
    // is away).
    const HWND hwnd = WaitFor(arg(1), arg(2), kDefaultWaitMs, true);
    const LRESULT result = Send(hwnd, static_cast<UINT>(number(3)), args.size() > 4 ? static_cast<WPARAM>(number(4)) : 0,
                                args.size() > 5 ? static_cast<LPARAM>(number(5)) : 0);
    std::printf("%lld\n", static_cast<long long>(result));
  } else if (step == L"processes") {
    // The process list of this Wine prefix only: another prefix's (or the
    // host's) process of the same name is not seen.
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) Fail(L"no process snapshot");
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
      std::printf("%lu %s\n", entry.th32ProcessID, Utf8(entry.szExeFile).c_str());
    }
    CloseHandle(snapshot);
  } else if (step == L"menu-resource") {
    const HMODULE module = LoadLibraryExW(arg(1).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) Fail(L"cannot load " + arg(1));
    const HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(number(2)));
    const HMENU popup = menu != nullptr ? GetSubMenu(menu, 0) : nullptr;
    if (popup == nullptr) Fail(L"no menu " + arg(2) + L" with a popup in " + arg(1));
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
      wchar_t text[256] = {};
      MENUITEMINFOW item{};
      item.cbSize = sizeof(item);
      item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
      item.dwTypeData = text;
      item.cch = 256;
      GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &item);
      if (item.fType & MFT_SEPARATOR) {
        std::printf("-\n");
      } else {
        std::printf("%u %s\n", item.wID, Utf8(text).c_str());
      }
    }
  } else if (step == L"open") {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = arg(1).c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) Fail(L"the shell cannot open " + arg(1));
    // The launcher runs one pass and ends: wait for it.
    if (info.hProcess != nullptr) {
      WaitForSingleObject(info.hProcess, kDefaultWaitMs);
      CloseHandle(info.hProcess);
    }
  } else {
    Fail(L"unknown step: " + step);
  }
  std::fflush(stdout);
  return 0;
}
