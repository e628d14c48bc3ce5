// The kernel's private records, shared by its source files.
#pragma once

#include "platform/sim/kernel.h"

namespace qx::sim {

struct Kernel::Window {
  HWND hwnd = nullptr;
  DWORD processId = 0;
  std::u16string className;
  std::u16string title;   // caption, or a control's text
  RECT rect{};            // screen coordinates for top-level windows, the parent's client area for children
  HWND parent = nullptr;  // the parent of a child, the owner of a top-level window
  bool child = false;
  std::vector<HWND> children;  // front first
  bool visible = false;
  bool enabled = true;
  bool topmost = false;
  LONG style = 0;
  DWORD exStyle = 0;
  int id = 0;
  int imageId = 0;  // the bitmap or icon of an image static
  int templateId = 0;  // a dialog: the resource its template came from
  IWindowHandler* handler = nullptr;
  bool dialog = false;
  bool messageBox = false;
  std::u16string boxText;  // a message box's text and MB_ type
  UINT boxType = 0;
  std::optional<int> boxAnswer;  // the button that ends the box, once given
  bool boxEndedByProgram = false;  // ... by its program's EndDialog
  bool commandBar = false;
  // control state
  bool checked = false;
  bool pushed = false;
  std::vector<std::u16string> items;
  int selection = -1;
  std::size_t limit = 30000;
  // painting
  bool needsPaint = false;
  std::vector<DrawOp> paint;
  std::vector<DrawOp> lastPaint;
};

struct Kernel::Menu {
  struct Item {
    UINT id = 0;
    std::u16string text;
    bool checked = false;
    bool separator = false;
    HMENU popup = nullptr;
  };
  std::vector<Item> items;
};

struct Kernel::SentMessage {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD sender = 0;
  LRESULT result = 0;
  bool done = false;
  DWORD receiver = 0;     // world sends: the program that handles it
  bool announce = false;  // world sends: log the answer when it comes
};

struct Kernel::Program {
  DWORD pid = 0;
  std::u16string image;
  ProgramMain main;
  std::vector<int> iconIds;
  std::thread thread;
  std::deque<MSG> posted;
  std::deque<SentMessage*> sent;
  SentMessage* waiting = nullptr;
  int servingSent = 0;  // depth of messages from other programs being handled
  bool started = false;
  bool sleeping = false;  // in Sleep: runs again once every other program waits
  bool killed = false;
  bool exited = false;
  DWORD lastError = 0;
};

struct Kernel::Process {
  DWORD pid = 0;
  std::u16string image;
  bool program = false;
};

struct Kernel::Timer {
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  UINT period = 0;
  DWORD due = 0;
  TIMERPROC proc = nullptr;
  DWORD processId = 0;
};

struct Kernel::HandleObject {
  enum Kind { kSnapshot = 1, kProcess = 2, kFile = 3 };
  int kind = 0;
  std::vector<PROCESSENTRY32W> entries;  // snapshot
  std::size_t next = 0;
  DWORD processId = 0;  // process
  DWORD access = 0;     // process: the rights it was opened with
  std::u16string path;  // file (lower case key)
  std::size_t position = 0;
  bool writable = false;
};

// Screen geometry of the handheld: 240 x 320 pixels, a 26-pixel navigation
// bar at the top and a 26-pixel menu bar at the bottom.
inline constexpr LONG kScreenWidth = 240;
inline constexpr LONG kScreenHeight = 320;
inline constexpr RECT kWorkArea{0, 26, 240, 294};

// Messages the world posts to controls to stand for typing and picking.
inline constexpr UINT kSimTypeText = 0x7FF0;
inline constexpr UINT kSimSelectItem = 0x7FF1;

// Counts a service call; when the ledger has a fault due, the call sets the
// last error and returns `failure` without doing anything.
#define QX_ENTER(call, failure)                           \
  const CallScope qx_scope;                               \
  if (auto qx_error = ledger_.Enter(Call::call)) {        \
    SetLastError(static_cast<DWORD>(*qx_error));          \
    return failure;                                       \
  }

// The same for a call that closes a handle: a refused close is noted in the
// handle audit, so the handle counts as tried, not forgotten.
#define QX_ENTER_CLOSE(call, kind, value, failure)                    \
  const CallScope qx_scope;                                           \
  if (auto qx_error = ledger_.Enter(Call::call)) {                     \
    ledger_.handles().CloseRefused(HandleKind::kind, value);          \
    SetLastError(static_cast<DWORD>(*qx_error));                       \
    return failure;                                                    \
  }

inline std::uintptr_t HandleValue(const void* handle) { return reinterpret_cast<std::uintptr_t>(handle); }
// A timer is named by its window and its id.
inline std::uintptr_t TimerKey(HWND hwnd, UINT_PTR id) { return (HandleValue(hwnd) << 16) ^ id; }

std::u16string Lower(std::u16string_view text);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// A window text copied as Win32 copies it: cut to the room, always terminated;
// the characters copied.
int CopyText(std::u16string_view from, std::span<char16_t> to);
// Whether a message box of this type shows the button.
bool BoxHasButton(UINT type, int button);

}  // namespace qx::sim
