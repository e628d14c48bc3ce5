// The open popup menu: its entries, one chosen, or the menu dismissed, as
// the user's keys to the menu's own loop would.
#include <algorithm>

#include "tools/qxagent/agent.h"
#include "tools/qxagent/menu_entries.h"

namespace qx::agent {
namespace {

struct Item {
  UINT id;
  std::wstring text;
  bool checked;
  bool separator;
};

HWND NeedPopupMenu() {
  const HWND menu = OpenPopupMenu();
  if (menu == nullptr) Fail(L"no popup menu is open");
  return menu;
}

// A mapping of the agent's own that the hook fills; closed on leaving.
class SharedEntries {
 public:
  SharedEntries() {
    wchar_t name[64];
    menu::SharedName(GetCurrentProcessId(), name);
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, menu::kSharedBytes, name);
    if (mapping_ == nullptr) FailCall(L"CreateFileMappingW");
    view_ = static_cast<menu::Entries*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, sizeof(menu::Entries)));
    if (view_ == nullptr) {
      CloseHandle(mapping_);
      FailCall(L"MapViewOfFile");
    }
    view_->written = 0;
    view_->count = -1;
  }
  SharedEntries(const SharedEntries&) = delete;
  SharedEntries& operator=(const SharedEntries&) = delete;
  ~SharedEntries() {
    UnmapViewOfFile(view_);
    CloseHandle(mapping_);
  }
  const menu::Entries& Get() const { return *view_; }

 private:
  HANDLE mapping_ = nullptr;
  menu::Entries* view_ = nullptr;
};

HMODULE HookLibrary() {
  static const HMODULE library = [] {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path, length);
    dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + menu::kHookLibrary;
    return LoadLibraryW(dll.c_str());
  }();
  if (library == nullptr) Fail(std::wstring(L"cannot load ") + menu::kHookLibrary + L" from the agent's folder");
  return library;
}

// The entries as the menu's own process reads them: Wine keeps a menu in
// the memory of the process that made it, and GetMenuItemInfo fails in
// any other (Win32 itself would answer from here).
std::vector<Item> Entries(HWND window) {
  const auto hmenu = reinterpret_cast<HMENU>(SendBounded(window, MN_GETHMENU, 0, 0));
  if (hmenu == nullptr) Fail(L"the menu window " + Hex(window) + L" names no menu");
  SharedEntries shared;
  const HMODULE library = HookLibrary();
  const auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(library, menu::kHookProcName)));
  if (proc == nullptr) FailCall(L"GetProcAddress");
  const HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, proc, library, GetWindowThreadProcessId(window, nullptr));
  if (hook == nullptr) FailCall(L"SetWindowsHookExW");
  DWORD_PTR ignored = 0;
  const BOOL answered =
      SendMessageTimeoutW(window, RegisterWindowMessageW(menu::kAskMessage), GetCurrentProcessId(),
                          reinterpret_cast<LPARAM>(hmenu), SMTO_ABORTIFHUNG, kAnswerMs, &ignored);
  UnhookWindowsHookEx(hook);
  if (!answered) Fail(L"the menu " + Hex(window) + L" did not answer within " + std::to_wstring(kAnswerMs) + L" ms");
  const menu::Entries& entries = shared.Get();
  if (entries.written != 1) Fail(L"the menu's program did not tell its entries");
  if (entries.count < 0) Fail(L"the menu's program could not read its entries");
  std::vector<Item> items;
  for (LONG i = 0; i < std::min<LONG>(entries.count, menu::kMostEntries); ++i) {
    const menu::Entry& e = entries.entries[i];
    items.push_back({e.id, std::wstring(e.text, std::min<UINT>(e.length, menu::kLongestText)),
                     (e.state & MFS_CHECKED) != 0, (e.type & MFT_SEPARATOR) != 0});
  }
  return items;
}

void Menu(const Fields&, Reply& reply) {
  const HWND window = NeedPopupMenu();
  RECT rect{};
  GetWindowRect(window, &rect);
  const std::vector<Item> items = Entries(window);
  reply.Line({L"m", Hex(window), Decimal(rect.left), Decimal(rect.top), Decimal(rect.right), Decimal(rect.bottom)});
  for (const Item& item : items) {
    reply.Line({L"i", Decimal(item.id), item.text, Flag(item.checked), Flag(item.separator)});
  }
}

// Waits (bounded) for the menu to close, as choosing or dismissing it
// must make it.
void ExpectClosed(HWND menu, const wchar_t* what) {
  const ULONGLONG deadline = GetTickCount64() + kAnswerMs;
  while (IsWindow(menu) && IsWindowVisible(menu)) {
    if (GetTickCount64() > deadline) Fail(std::wstring(L"the menu stayed open after ") + what);
    Sleep(10);
  }
}

void Choose(const Fields& f, Reply&) {
  const HWND window = NeedPopupMenu();
  const auto index = Integer(f[0], L"an entry's index", 0, menu::kMostEntries);
  const auto items = Entries(window);
  const auto entries = std::count_if(items.begin(), items.end(), [](const Item& i) { return !i.separator; });
  if (index >= entries) Fail(L"the menu has " + std::to_wstring(entries) + L" entries");
  // Keys go to the menu's own loop in the program that opened it: the
  // first Down selects the first entry (separators are passed over),
  // Enter picks the selected one.
  for (std::int64_t i = 0; i <= index; ++i) PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(window, WM_CHAR, L'\r', 0);
  ExpectClosed(window, L"an entry was chosen");
}

void Dismiss(const Fields&, Reply&) {
  const HWND window = NeedPopupMenu();
  PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
  ExpectClosed(window, L"Escape");
}

}  // namespace

void AddMenuRequests(Requests& requests) {
  requests.push_back({"menu", "menu", 0, Menu});
  requests.push_back({"choose", "choose INDEX", 1, Choose});
  requests.push_back({"dismiss", "dismiss", 0, Dismiss});
}

}  // namespace qx::agent
