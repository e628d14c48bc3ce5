// Windows of the simulated device: their records, z-order and activation,
// finding and changing them.
#include <algorithm>

#include "platform/framework/framework.h"
#include "platform/sim/kernel_internal.h"
#include "platform/sim/text.h"

namespace qx::sim {

std::u16string Lower(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return lower;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

// ---- Records -----------------------------------------------------------------------

Kernel::Window* Kernel::Find(HWND hwnd) const {
  const auto it = windows_.find(reinterpret_cast<std::uintptr_t>(hwnd));
  return it == windows_.end() ? nullptr : it->second.get();
}

Kernel::Program* Kernel::ProgramOf(DWORD processId) const {
  const auto it = programs_.find(processId);
  if (it == programs_.end() || it->second->exited || it->second->killed) return nullptr;
  return it->second.get();
}

HWND Kernel::NewHandle() { return reinterpret_cast<HWND>(nextHandle_ += 4); }

Kernel::Window& Kernel::CreateWindowObject(DWORD processId, std::u16string_view className,
                                          std::u16string_view title, RECT rect, HWND parent) {
  auto window = std::make_unique<Window>();
  window->hwnd = NewHandle();
  window->processId = processId;
  window->className = className;
  window->title = title;
  window->rect = rect;
  window->parent = parent;
  Window& ref = *window;
  windows_[reinterpret_cast<std::uintptr_t>(ref.hwnd)] = std::move(window);
  return ref;
}

RECT Kernel::ScreenRect(const Window& window) const {
  RECT rect = window.rect;
  if (!window.child) return rect;
  if (const Window* parent = Find(window.parent)) {
    const RECT outer = ScreenRect(*parent);
    rect.left += outer.left;
    rect.right += outer.left;
    rect.top += outer.top;
    rect.bottom += outer.top;
  }
  return rect;
}

bool Kernel::ShownOnScreen(const Window& window) const {
  const Window* w = &window;
  while (w != nullptr) {
    if (!w->visible) return false;
    if (!w->child) return true;
    w = Find(w->parent);
  }
  return false;
}

std::string Kernel::Label(HWND hwnd) const {
  const Window* window = Find(hwnd);
  if (window == nullptr) return "(no window)";
  std::string label;
  if (window->child) {
    label = Utf8(window->className) + " " + std::to_string(window->id);
    if (!window->title.empty()) label += " \"" + Utf8(window->title) + "\"";
    label += " (";
  } else {
    label = "\"" + Utf8(window->title) + "\" (" + Utf8(window->className);
  }
  const auto process = processes_.find(window->processId);
  if (process != processes_.end()) {
    label += std::string(window->child ? "" : " ") + "of " + Utf8(ProgramBaseName(process->second->image)) + ".exe";
  }
  return label + ")";
}

void Kernel::Log(Effect::Kind kind, std::string text) {
  const Program* self = Current();
  effects_.push_back({kind, std::move(text), self != nullptr ? Utf8(ProgramBaseName(self->image)) + ".exe" : std::string()});
}

std::vector<Effect> Kernel::TakeEffects() {
  std::vector<Effect> taken;
  taken.swap(effects_);
  return taken;
}

// ---- Z-order and activation ---------------------------------------------------------

void Kernel::Raise(HWND hwnd, bool topmost) {
  Window* window = Find(hwnd);
  if (window == nullptr || window->child || hwnd == desktop_) return;
  std::erase(zOrder_, hwnd);
  window->topmost = topmost;
  auto position = zOrder_.begin();
  if (!topmost) {
    while (position != zOrder_.end() && Find(*position) != nullptr && Find(*position)->topmost) ++position;
  }
  zOrder_.insert(position, hwnd);
}

void Kernel::LowerToBottom(HWND hwnd) {
  Window* window = Find(hwnd);
  if (window == nullptr || window->child || hwnd == desktop_) return;
  std::erase(zOrder_, hwnd);
  window->topmost = false;
  // The desktop stays below everything.
  auto position = std::find(zOrder_.begin(), zOrder_.end(), desktop_);
  zOrder_.insert(position, hwnd);
}

void Kernel::Activate(HWND hwnd) {
  const Window* window = Find(hwnd);
  if (window == nullptr) return;
  foreground_ = window->child ? foreground_ : hwnd;
}

void Kernel::ActivateNext() {
  for (HWND hwnd : zOrder_) {
    const Window* window = Find(hwnd);
    if (window != nullptr && window->visible && window->enabled && hwnd != foreground_ && !window->topmost) {
      foreground_ = hwnd;
      return;
    }
  }
  foreground_ = desktop_;
}

HWND Kernel::ChildFromPoint(HWND parent, POINT point) const {
  const Window* window = Find(parent);
  if (window == nullptr) return parent;
  for (HWND child : window->children) {
    const Window* c = Find(child);
    if (c != nullptr && c->visible && PtInRect(ScreenRect(*c), point)) return ChildFromPoint(child, point);
  }
  return parent;
}

// ---- IWindows: finding -----------------------------------------------------------------

HWND Kernel::FindWindowW(std::u16string_view className, std::u16string_view title) {
  QX_ENTER(FindWindowW, nullptr)
  for (HWND hwnd : zOrder_) {
    const Window* window = Find(hwnd);
    if (window != nullptr && EqualsNoCase(window->className, className) && EqualsNoCase(window->title, title)) {
      return hwnd;
    }
  }
  return nullptr;
}

HWND Kernel::WindowFromPoint(POINT point) {
  QX_ENTER(WindowFromPoint, nullptr)
  for (HWND hwnd : zOrder_) {
    const Window* window = Find(hwnd);
    if (window != nullptr && window->visible && PtInRect(window->rect, point)) return ChildFromPoint(hwnd, point);
  }
  return desktop_;
}

HWND Kernel::GetParent(HWND hwnd) {
  QX_ENTER(GetParent, nullptr)
  const Window* window = Find(hwnd);
  return window == nullptr ? nullptr : window->parent;
}

HWND Kernel::GetForegroundWindow() {
  QX_ENTER(GetForegroundWindow, nullptr)
  return foreground_;
}

BOOL Kernel::SetForegroundWindow(HWND hwnd) {
  QX_ENTER(SetForegroundWindow, FALSE)
  Window* window = Find(hwnd);
  if (window == nullptr || window->child) return FALSE;
  if (hwnd != desktop_) Raise(hwnd, window->topmost);
  foreground_ = hwnd;
  return TRUE;
}

HWND Kernel::GetDesktopWindow() {
  QX_ENTER(GetDesktopWindow, nullptr)
  return desktop_;
}

BOOL Kernel::EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
  QX_ENTER(EnumWindows, FALSE)
  if (proc == nullptr) return FALSE;
  const std::vector<HWND> order = zOrder_;
  for (HWND hwnd : order) {
    if (Find(hwnd) == nullptr) continue;
    const ProgramCodeScope program;
    if (!proc(hwnd, lParam)) break;
  }
  return TRUE;
}

BOOL Kernel::EnumThreadWindows(WNDENUMPROC proc, LPARAM lParam) {
  QX_ENTER(EnumThreadWindows, FALSE)
  const Program* self = Current();
  if (proc == nullptr || self == nullptr) return FALSE;
  const DWORD pid = self->pid;
  const std::vector<HWND> order = zOrder_;
  for (HWND hwnd : order) {
    const Window* window = Find(hwnd);
    if (window == nullptr || window->processId != pid) continue;
    const ProgramCodeScope program;
    if (!proc(hwnd, lParam)) break;
  }
  return TRUE;
}

BOOL Kernel::IsWindow(HWND hwnd) {
  QX_ENTER(IsWindow, FALSE)
  return Find(hwnd) != nullptr;
}

BOOL Kernel::IsWindowVisible(HWND hwnd) {
  QX_ENTER(IsWindowVisible, FALSE)
  const Window* window = Find(hwnd);
  return window != nullptr && ShownOnScreen(*window);
}

BOOL Kernel::IsWindowEnabled(HWND hwnd) {
  QX_ENTER(IsWindowEnabled, FALSE)
  const Window* window = Find(hwnd);
  return window != nullptr && window->enabled;
}

int CopyText(std::u16string_view from, std::span<char16_t> to) {
  if (to.empty()) return 0;
  const std::size_t count = std::min(from.size(), to.size() - 1);
  std::copy_n(from.begin(), count, to.begin());
  to[count] = u'\0';
  return static_cast<int>(count);
}

int Kernel::GetClassNameW(HWND hwnd, std::span<char16_t> text) {
  QX_ENTER(GetClassNameW, 0)
  const Window* window = Find(hwnd);
  return window == nullptr ? 0 : CopyText(window->className, text);
}

int Kernel::GetWindowTextW(HWND hwnd, std::span<char16_t> text) {
  QX_ENTER(GetWindowTextW, 0)
  const Window* window = Find(hwnd);
  return window == nullptr ? 0 : CopyText(window->title, text);
}

BOOL Kernel::SetWindowTextW(HWND hwnd, std::u16string_view text) {
  QX_ENTER(SetWindowTextW, FALSE)
  Window* window = Find(hwnd);
  if (window == nullptr) return FALSE;
  window->title = text;
  return TRUE;
}

BOOL Kernel::GetWindowRect(HWND hwnd, RECT* rect) {
  QX_ENTER(GetWindowRect, FALSE)
  const Window* window = Find(hwnd);
  if (window == nullptr || rect == nullptr) return FALSE;
  *rect = ScreenRect(*window);
  return TRUE;
}

BOOL Kernel::GetClientRect(HWND hwnd, RECT* rect) {
  QX_ENTER(GetClientRect, FALSE)
  const Window* window = Find(hwnd);
  if (window == nullptr || rect == nullptr) return FALSE;
  *rect = {0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
  return TRUE;
}

BOOL Kernel::ScreenToClient(HWND hwnd, POINT* point) {
  QX_ENTER(ScreenToClient, FALSE)
  const Window* window = Find(hwnd);
  if (window == nullptr || point == nullptr) return FALSE;
  const RECT rect = ScreenRect(*window);
  point->x -= rect.left;
  point->y -= rect.top;
  return TRUE;
}

BOOL Kernel::GetCursorPos(POINT* point) {
  QX_ENTER(GetCursorPos, FALSE)
  if (point == nullptr) return FALSE;
  *point = cursor_;
  return TRUE;
}

LONG Kernel::GetWindowStyle(HWND hwnd) {
  QX_ENTER(GetWindowStyle, 0)
  const Window* window = Find(hwnd);
  return window == nullptr ? 0 : window->style;
}

void Kernel::SetWindowStyle(HWND hwnd, LONG style) {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::SetWindowStyle)) return;
  if (Window* window = Find(hwnd)) {
    window->style = style;
    window->needsPaint = true;
  }
}

// ---- IWindows: changing ----------------------------------------------------------------

BOOL Kernel::ShowWindow(HWND hwnd, int command) {
  QX_ENTER(ShowWindow, FALSE)
  Window* window = Find(hwnd);
  if (window == nullptr) return FALSE;
  const BOOL wasVisible = window->visible;
  switch (command) {
    case SW_HIDE:
      window->visible = false;
      if (foreground_ == hwnd) ActivateNext();
      break;
    case SW_MINIMIZE:
      window->visible = false;
      if (!window->child) LowerToBottom(hwnd);
      if (foreground_ == hwnd) ActivateNext();
      break;
    default:
      window->visible = true;
      window->needsPaint = true;
      if (!window->child) {
        Raise(hwnd, window->topmost);
        Activate(hwnd);
      }
      break;
  }
  return wasVisible;
}

BOOL Kernel::SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  QX_ENTER(SetWindowPos, FALSE)
  Window* window = Find(hwnd);
  if (window == nullptr) return FALSE;
  if ((flags & SWP_NOMOVE) == 0) {
    const LONG width = window->rect.right - window->rect.left;
    const LONG height = window->rect.bottom - window->rect.top;
    window->rect = {x, y, x + width, y + height};
  }
  if ((flags & SWP_NOSIZE) == 0) {
    window->rect.right = window->rect.left + std::max(cx, 0);
    window->rect.bottom = window->rect.top + std::max(cy, 0);
  }
  if ((flags & SWP_NOZORDER) == 0 && !window->child) {
    if (insertAfter == HWND_TOPMOST) {
      Raise(hwnd, true);
    } else if (insertAfter == HWND_NOTOPMOST) {
      Raise(hwnd, false);
    } else if (insertAfter == HWND_BOTTOM) {
      LowerToBottom(hwnd);
    } else {
      Raise(hwnd, window->topmost);
    }
  }
  if ((flags & SWP_SHOWWINDOW) != 0) {
    window->visible = true;
    window->needsPaint = true;
  }
  if ((flags & SWP_HIDEWINDOW) != 0) {
    window->visible = false;
    if (foreground_ == hwnd) ActivateNext();
  }
  // Without SWP_NOACTIVATE the handheld activates a window it shows or moves.
  if ((flags & (SWP_NOACTIVATE | SWP_HIDEWINDOW)) == 0 && !window->child && window->visible) Activate(hwnd);
  return TRUE;
}

BOOL Kernel::MoveWindow(HWND hwnd, int x, int y, int cx, int cy, BOOL repaint) {
  QX_ENTER(MoveWindow, FALSE)
  Window* window = Find(hwnd);
  if (window == nullptr) return FALSE;
  window->rect = {x, y, x + std::max(cx, 0), y + std::max(cy, 0)};
  if (repaint) window->needsPaint = true;
  return TRUE;
}

BOOL Kernel::EnableWindow(HWND hwnd, BOOL enable) {
  QX_ENTER(EnableWindow, FALSE)
  Window* window = Find(hwnd);
  if (window == nullptr) return FALSE;
  const BOOL wasDisabled = !window->enabled;
  if (window->enabled == static_cast<bool>(enable)) return wasDisabled;
  window->enabled = enable != FALSE;
  window->needsPaint = true;
  if (!enable && focus_ == hwnd) focus_ = nullptr;
  const Program* owner = ProgramOf(window->processId);
  if (owner == nullptr || owner == Current()) CallWindow(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled;
}

BOOL Kernel::DestroyWindow(HWND hwnd) {
  QX_ENTER_CLOSE(DestroyWindow, Window, HandleValue(hwnd), FALSE)
  const Window* window = Find(hwnd);
  if (window == nullptr || hwnd == desktop_) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    return FALSE;
  }
  // A program may not destroy another program's window; the stand-ins of
  // the device's own programs go when asked.
  const Program* owner = ProgramOf(window->processId);
  if (owner != nullptr && owner != Current()) {
    SetLastError(static_cast<DWORD>(ERROR_ACCESS_DENIED));
    return FALSE;
  }
  DestroyTree(hwnd, true);
  return TRUE;
}

void Kernel::DestroyTree(HWND hwnd, bool sendMessages) {
  Window* window = Find(hwnd);
  if (window == nullptr) return;
  window->visible = false;
  if (sendMessages) CallWindow(hwnd, WM_DESTROY, 0, 0);
  window = Find(hwnd);
  if (window == nullptr) return;
  const std::vector<HWND> children = window->children;
  for (HWND child : children) DestroyTree(child, sendMessages);
  window = Find(hwnd);
  if (window == nullptr) return;
  DropTimers([hwnd](const Timer& timer) { return timer.hwnd == hwnd; });
  if (focus_ == hwnd) focus_ = nullptr;
  if (capture_ == hwnd) capture_ = nullptr;
  const DWORD processId = window->processId;
  const bool topLevel = !window->child;
  if (window->child) {
    if (Window* parent = Find(window->parent)) std::erase(parent->children, hwnd);
  } else {
    // A window destroyed, or gone with its process (no program destroyed
    // that one: the system took it back).
    if (!window->messageBox) {
      Log(sendMessages ? Effect::Kind::WindowDestroyed : Effect::Kind::WindowGone, "window closed: " + Label(hwnd));
    }
    std::erase(zOrder_, hwnd);
    ledger_.handles().Closed(HandleKind::Window, HandleValue(hwnd));
  }
  windows_.erase(reinterpret_cast<std::uintptr_t>(hwnd));
  if (foreground_ == hwnd) {
    foreground_ = nullptr;
    ActivateNext();
  }
  // A stand-in program (the browser, a player) ends with its last window.
  if (topLevel && ProgramOf(processId) == nullptr && processes_.count(processId) != 0 &&
      !processes_.at(processId)->program) {
    const bool hasWindows = std::any_of(windows_.begin(), windows_.end(),
                                        [processId](const auto& w) { return w.second->processId == processId; });
    if (!hasWindows) EndProcess(processId, false);
  }
}

HWND Kernel::SetFocus(HWND hwnd) {
  QX_ENTER(SetFocus, nullptr)
  const HWND previous = focus_;
  if (hwnd != nullptr && Find(hwnd) == nullptr) return nullptr;
  if (previous == hwnd) return previous;
  focus_ = hwnd;
  const Program* self = Current();
  if (const Window* old = Find(previous); old != nullptr && ProgramOf(old->processId) == self) {
    CallWindow(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  }
  if (const Window* now = Find(hwnd); now != nullptr && ProgramOf(now->processId) == self) {
    CallWindow(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  }
  return previous;
}

HWND Kernel::GetFocus() {
  QX_ENTER(GetFocus, nullptr)
  return focus_;
}

BOOL Kernel::InvalidateRect(HWND hwnd, BOOL erase) {
  QX_ENTER(InvalidateRect, FALSE)
  (void)erase;
  Window* window = Find(hwnd);
  if (window == nullptr) return FALSE;
  window->needsPaint = true;
  return TRUE;
}

BOOL Kernel::CommandBar_Show(HWND hwnd, BOOL show) {
  QX_ENTER(CommandBar_Show, FALSE)
  Window* window = Find(hwnd);
  if (window == nullptr || !window->dialog) return FALSE;
  window->commandBar = show != FALSE;
  return TRUE;
}

}  // namespace qx::sim
