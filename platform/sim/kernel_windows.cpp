// Windows, controls, messages, timers, menus, message boxes and drawing of
// the simulated device.
#include <algorithm>
#include <cstdio>

#include "platform/framework/framework.h"
#include "platform/sim/effect_text.h"
#include "platform/sim/kernel_internal.h"
#include "platform/sim/text.h"

namespace qx::sim {

namespace {

RECT DluRect(short x, short y, short cx, short cy) {
  // The handheld's "System" 8 font gives dialog base units of about 6 x 13
  // pixels: a horizontal unit is 1.5 pixels, a vertical one 1.625.
  const auto px = [](int v) { return static_cast<LONG>(v * 3 / 2); };
  const auto py = [](int v) { return static_cast<LONG>(v * 13 / 8); };
  return {px(x), py(y), px(x + cx), py(y + cy)};
}

std::string Hex(COLORREF color) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  return text;
}

int DefaultButton(UINT type) { return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK; }

bool BoxHasButton(UINT type, int button) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return button == IDOK || button == IDCANCEL;
    case MB_YESNO: return button == IDYES || button == IDNO;
    default: return button == IDOK;
  }
}

bool IsOwnerDrawButton(const std::u16string& className, LONG style) {
  return EqualsNoCase(className, kButtonClass) && (static_cast<DWORD>(style) & BS_TYPEMASK) == BS_OWNERDRAW;
}

}  // namespace

const char* BoxButtonNames(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return "OK, Cancel";
    case MB_YESNO: return "Yes, No";
    default: return "OK";
  }
}

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

namespace {
int CopyText(std::u16string_view from, std::span<char16_t> to) {
  if (to.empty()) return 0;
  const std::size_t count = std::min(from.size(), to.size() - 1);
  std::copy_n(from.begin(), count, to.begin());
  to[count] = u'\0';
  return static_cast<int>(count);
}
}  // namespace

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

// ---- Dialogs and controls -------------------------------------------------------------

HWND Kernel::CreateDialogIndirectW(const DialogTemplate& dialog, HWND parent, IWindowHandler* handler) {
  QX_ENTER(CreateDialogIndirectW, nullptr)
  const Program* self = Current();
  const DWORD processId = self != nullptr ? self->pid : 0;
  RECT rect = DluRect(dialog.x, dialog.y, dialog.cx, dialog.cy);
  if ((dialog.style & WS_CAPTION) == WS_CAPTION) {
    // Dialogs with a caption fill the work area on the handheld.
    rect = kWorkArea;
  }
  Window& window = CreateWindowObject(processId, kDialogClass, dialog.caption, rect, parent);
  window.dialog = true;
  window.templateId = dialog.id;
  window.style = static_cast<LONG>(dialog.style);
  window.exStyle = dialog.exStyle;
  window.handler = handler;
  window.commandBar = true;
  const HWND hwnd = window.hwnd;
  ledger_.handles().Opened(HandleKind::Window, HandleValue(hwnd), "\"" + Utf8(dialog.caption) + "\"");
  zOrder_.insert(std::find(zOrder_.begin(), zOrder_.end(), desktop_), hwnd);
  Raise(hwnd, (dialog.exStyle & WS_EX_TOPMOST) != 0);
  for (const ControlTemplate& control : dialog.controls) {
    // A drop-down list's template height includes its open list; closed, the
    // control is one line high.
    const bool dropDown = EqualsNoCase(control.className, kComboBoxClass);
    const short height = dropDown ? std::min<short>(control.cy, 13) : control.cy;
    Window& child = CreateWindowObject(processId, control.className, control.text,
                                       DluRect(control.x, control.y, control.cx, height), hwnd);
    child.child = true;
    child.id = control.id;
    child.style = static_cast<LONG>(control.style);
    child.exStyle = control.exStyle;
    child.imageId = control.imageId;
    child.visible = (control.style & WS_VISIBLE) != 0;
    child.enabled = (control.style & WS_DISABLED) == 0;
    for (std::u16string_view item : control.items) child.items.emplace_back(item);
    if (Window* owner = Find(hwnd)) owner->children.push_back(child.hwnd);
  }
  const LRESULT setFocus = CallWindow(hwnd, WM_INITDIALOG, 0, 0);
  Window* created = Find(hwnd);
  if (created == nullptr) return nullptr;
  if (setFocus != 0) {
    for (HWND child : created->children) {
      const Window* c = Find(child);
      if (c != nullptr && (c->style & WS_TABSTOP) != 0 && c->enabled && c->visible) {
        focus_ = child;
        break;
      }
    }
  }
  if ((dialog.style & WS_VISIBLE) != 0) {
    created->visible = true;
    created->needsPaint = true;
    Activate(hwnd);
  }
  return hwnd;
}

HWND Kernel::GetDlgItem(HWND dialog, int id) {
  QX_ENTER(GetDlgItem, nullptr)
  const Window* window = Find(dialog);
  if (window == nullptr) return nullptr;
  for (HWND child : window->children) {
    const Window* c = Find(child);
    if (c != nullptr && c->id == id) return child;
  }
  return nullptr;
}

int Kernel::GetDlgCtrlID(HWND hwnd) {
  QX_ENTER(GetDlgCtrlID, 0)
  const Window* window = Find(hwnd);
  return window == nullptr ? 0 : window->id;
}

HWND Kernel::GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  QX_ENTER(GetNextDlgTabItem, nullptr)
  const Window* window = Find(dialog);
  if (window == nullptr) return nullptr;
  std::vector<HWND> stops;
  for (HWND child : window->children) {
    const Window* c = Find(child);
    if (c != nullptr && (c->style & WS_TABSTOP) != 0 && c->visible && c->enabled) stops.push_back(child);
  }
  if (stops.empty()) return nullptr;
  auto it = std::find(stops.begin(), stops.end(), control);
  if (it == stops.end()) return previous ? stops.back() : stops.front();
  const std::size_t index = static_cast<std::size_t>(it - stops.begin());
  const std::size_t next = previous ? (index + stops.size() - 1) % stops.size() : (index + 1) % stops.size();
  return stops[next] == control ? nullptr : stops[next];
}

BOOL Kernel::SubclassWindow(HWND hwnd, IWindowHandler* handler) {
  QX_ENTER(SubclassWindow, FALSE)
  Window* window = Find(hwnd);
  if (window == nullptr) return FALSE;
  window->handler = handler;
  return TRUE;
}

LRESULT Kernel::CallDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  QX_ENTER(CallDefaultProc, 0)
  return DefaultProc(hwnd, message, wParam, lParam);
}

BOOL Kernel::InSendMessage() {
  QX_ENTER(InSendMessage, FALSE)
  const Program* self = Current();
  return self != nullptr && self->servingSent > 0;
}

LRESULT Kernel::CallWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const Window* window = Find(hwnd);
  if (window == nullptr) return 0;
  if (IWindowHandler* handler = window->handler) {
    LRESULT result = 0;
    const ProgramCodeScope program;
    if (handler->HandleMessage(hwnd, message, wParam, lParam, &result)) return result;
  }
  return DefaultProc(hwnd, message, wParam, lParam);
}

LRESULT Kernel::DefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* window = Find(hwnd);
  if (window == nullptr) return 0;
  const bool button = EqualsNoCase(window->className, kButtonClass);
  const bool edit = EqualsNoCase(window->className, kEditClass);
  const bool combo = EqualsNoCase(window->className, kComboBoxClass);
  const DWORD type = static_cast<DWORD>(window->style) & BS_TYPEMASK;
  const auto notifyParent = [&](WORD code) {
    const Window* w = Find(hwnd);
    if (w == nullptr || !w->child) return;
    const HWND parent = w->parent;
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code), reinterpret_cast<LPARAM>(hwnd));
  };
  switch (message) {
    case WM_SETTEXT:
      window->title = lParam != 0 ? std::u16string(reinterpret_cast<const char16_t*>(lParam)) : std::u16string();
      window->needsPaint = true;
      return TRUE;
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(window->title.size());
    case WM_GETTEXT:
      return CopyText(window->title, {reinterpret_cast<char16_t*>(lParam), static_cast<std::size_t>(wParam)});
    case WM_PAINT:
      window->needsPaint = false;
      if (IsOwnerDrawButton(window->className, window->style)) PaintOwnerDrawn(hwnd);
      return 0;
    case WM_CLOSE:
      if (window->messageBox) {
        // A box closes as its Cancel would, whatever buttons it shows.
        if (!window->boxAnswer) EndBox(*window, IDCANCEL);
      } else if (window->dialog) {
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      } else if (!window->child) {
        DestroyTree(hwnd, true);
      }
      return 0;
    case WM_ENABLE:
      window->needsPaint = true;
      return 0;
    case WM_COMMAND:
      // A message box ends with the button its command names, and with
      // Cancel whether or not it shows one: Win32's boxes (Wine 8.0) end
      // every kind, Yes/No and OK-only too, with IDCANCEL.
      if (window->messageBox && HIWORD(wParam) == BN_CLICKED && !window->boxAnswer &&
          (LOWORD(wParam) == IDCANCEL || BoxHasButton(window->boxType, LOWORD(wParam)))) {
        EndBox(*window, LOWORD(wParam));
      }
      return 0;
    default:
      break;
  }
  if (button) {
    switch (message) {
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        if (!window->enabled) return 0;
        window->pushed = true;
        window->needsPaint = true;
        capture_ = hwnd;
        SetFocus(hwnd);
        return 0;
      case WM_LBUTTONUP: {
        if (capture_ != hwnd) return 0;
        capture_ = nullptr;
        window = Find(hwnd);
        if (window == nullptr || !window->pushed) return 0;
        window->pushed = false;
        window->needsPaint = true;
        const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const RECT client{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
        if (!PtInRect(client, point)) return 0;
        if (type == BS_AUTOCHECKBOX) window->checked = !window->checked;
        notifyParent(BN_CLICKED);
        return 0;
      }
      case BM_GETCHECK:
        return window->checked ? BST_CHECKED : BST_UNCHECKED;
      case BM_SETCHECK:
        window->checked = wParam == BST_CHECKED;
        window->needsPaint = true;
        return 0;
      case BM_GETSTATE:
        return (window->checked ? BST_CHECKED : 0) | (window->pushed ? BST_PUSHED : 0);
      case BM_SETSTATE:
        window->pushed = wParam != 0;
        window->needsPaint = true;
        return 0;
      case BM_SETSTYLE:
        window->style = static_cast<LONG>((static_cast<DWORD>(window->style) & ~0xFFFFu) | LOWORD(wParam));
        if (lParam != 0) window->needsPaint = true;
        return 0;
      case BM_CLICK:
        if (!window->enabled) return 0;
        if (type == BS_AUTOCHECKBOX) window->checked = !window->checked;
        notifyParent(BN_CLICKED);
        return 0;
      case WM_GETDLGCODE:
        if (type == BS_AUTOCHECKBOX || type == BS_GROUPBOX || type == BS_OWNERDRAW) return DLGC_BUTTON;
        return DLGC_BUTTON | (type == BS_DEFPUSHBUTTON ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
      default:
        return 0;
    }
  }
  if (edit) {
    switch (message) {
      case EM_LIMITTEXT:
        window->limit = wParam == 0 ? 30000 : static_cast<std::size_t>(wParam);
        return 0;
      case kSimTypeText: {
        const auto* text = reinterpret_cast<const std::u16string*>(lParam);
        window->title = text == nullptr ? std::u16string() : text->substr(0, window->limit);
        notifyParent(0x0300);  // EN_CHANGE
        return 0;
      }
      default:
        return 0;
    }
  }
  if (combo) {
    switch (message) {
      case CB_ADDSTRING:
        if (lParam == 0) return CB_ERR;
        window->items.emplace_back(reinterpret_cast<const char16_t*>(lParam));
        return static_cast<LRESULT>(window->items.size() - 1);
      case CB_GETCOUNT:
        return static_cast<LRESULT>(window->items.size());
      case CB_GETCURSEL:
        return window->selection;
      case CB_SETCURSEL:
      case kSimSelectItem: {
        // A drop-down list's text is its selected entry, as on Win32.
        window->selection = wParam < window->items.size() ? static_cast<int>(wParam) : -1;
        window->title = window->selection >= 0 ? window->items[window->selection] : std::u16string();
        if (message == kSimSelectItem) {
          notifyParent(1);  // CBN_SELCHANGE
          return 0;
        }
        return window->selection >= 0 ? window->selection : CB_ERR;
      }
      default:
        return 0;
    }
  }
  return 0;
}

// ---- Messages ------------------------------------------------------------------------

// The world's windows have no program to show what they received, so a
// program's message to one is an effect of its own.
void Kernel::NoteWorldMessage(HWND hwnd, const char* how, UINT message, WPARAM wParam, LPARAM lParam) {
  if (Current() == nullptr) return;
  Log(Effect::Kind::Message, std::string("message ") + std::to_string(message) + " (" + std::to_string(wParam) +
                                 ", " + std::to_string(lParam) + ") " + how + " to " + Label(hwnd));
}

LRESULT Kernel::SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  QX_ENTER(SendMessageW, 0)
  const Window* window = Find(hwnd);
  if (window == nullptr) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    return 0;
  }
  Program* target = ProgramOf(window->processId);
  Program* self = Current();
  if (target == nullptr) NoteWorldMessage(hwnd, "sent", message, wParam, lParam);
  if (target == nullptr || target == self) return CallWindow(hwnd, message, wParam, lParam);
  if (self == nullptr) return SendFromWorld(*target, hwnd, message, wParam, lParam);
  SentMessage sent{hwnd, message, wParam, lParam, self->pid};
  target->sent.push_back(&sent);
  self->waiting = &sent;
  struct ClearWaiting {
    Program* self;
    ~ClearWaiting() { self->waiting = nullptr; }
  } clear{self};
  WaitFor([&] { return sent.done; });
  if (!sent.done) {
    // Nobody could answer: take the message back so nothing points at it.
    if (Program* receiver = ProgramOf(window->processId)) std::erase(receiver->sent, &sent);
  }
  return sent.result;
}

LRESULT Kernel::SendFromWorld(Program& target, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The world runs the programs only until all of them wait. A handler that
  // waits for the user (in a message box, say) returns during a later step,
  // so the record it answers into is the kernel's, not this frame's.
  auto owned = std::make_unique<SentMessage>(SentMessage{hwnd, message, wParam, lParam, 0});
  SentMessage& sent = *owned;
  sent.receiver = target.pid;
  worldSends_.push_back(std::move(owned));
  target.sent.push_back(&sent);
  WaitFor([&] { return sent.done; });
  const LRESULT result = sent.result;
  if (sent.done) std::erase_if(worldSends_, [&](const auto& record) { return record.get() == &sent; });
  return result;
}

void Kernel::SettleWorldSends() {
  std::erase_if(worldSends_, [&](const std::unique_ptr<SentMessage>& sent) {
    if (!sent->done && ProgramOf(sent->receiver) != nullptr) return false;
    if (sent->announce) {
      Log(Effect::Kind::Note, "message " + std::to_string(sent->message) +
                                  (sent->done ? " answered " + std::to_string(sent->result) : " got no answer"));
    }
    return true;
  });
}

BOOL Kernel::PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  QX_ENTER(PostMessageW, FALSE)
  if (hwnd == nullptr) {
    Program* self = Current();
    if (self == nullptr) return FALSE;
    self->posted.push_back({nullptr, message, wParam, lParam});
    return TRUE;
  }
  const Window* window = Find(hwnd);
  if (window == nullptr) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    return FALSE;
  }
  if (Program* target = ProgramOf(window->processId)) {
    target->posted.push_back({hwnd, message, wParam, lParam});
  } else {
    NoteWorldMessage(hwnd, "posted", message, wParam, lParam);
    CallWindow(hwnd, message, wParam, lParam);  // the stand-ins act at once
  }
  return TRUE;
}

void Kernel::PostToProgram(DWORD processId, MSG msg) {
  if (Program* target = ProgramOf(processId)) target->posted.push_back(msg);
}

BOOL Kernel::IsDialogMessageW(HWND dialog, MSG* msg) {
  QX_ENTER(IsDialogMessageW, FALSE)
  // The simulated device has no keyboard: there is no dialog navigation to do.
  (void)dialog;
  (void)msg;
  return FALSE;
}

LRESULT Kernel::DispatchMessageW(const MSG* msg) {
  QX_ENTER(DispatchMessageW, 0)
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    if (Find(msg->hwnd) == nullptr) return 0;
    const ProgramCodeScope program;
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, now_);
    return 0;
  }
  return CallWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void Kernel::PostQuitMessage(int exitCode) {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::PostQuitMessage)) return;
  if (Program* self = Current()) self->posted.push_back({nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
}

UINT_PTR Kernel::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  QX_ENTER(SetTimer, 0)
  const Window* window = Find(hwnd);
  if (window == nullptr) return 0;
  const UINT period = std::max<UINT>(elapseMs, 1);
  for (auto& timer : timers_) {
    if (timer->hwnd == hwnd && timer->id == id) {
      timer->period = period;
      timer->due = now_ + period;
      timer->proc = proc;
      return id;
    }
  }
  timers_.push_back(std::make_unique<Timer>(Timer{hwnd, id, period, now_ + period, proc, window->processId}));
  ledger_.handles().Opened(HandleKind::Timer, TimerKey(hwnd, id), std::to_string(id) + " of " + Label(hwnd),
                           HandleValue(hwnd));
  return id == 0 ? 1 : id;
}

BOOL Kernel::KillTimer(HWND hwnd, UINT_PTR id) {
  QX_ENTER_CLOSE(KillTimer, Timer, TimerKey(hwnd, id), FALSE)
  return DropTimers([&](const Timer& timer) { return timer.hwnd == hwnd && timer.id == id; }) != 0;
}

std::size_t Kernel::DropTimers(const std::function<bool(const Timer&)>& which) {
  return std::erase_if(timers_, [&](const std::unique_ptr<Timer>& timer) {
    if (!which(*timer)) return false;
    ledger_.handles().Closed(HandleKind::Timer, TimerKey(timer->hwnd, timer->id));
    return true;
  });
}

// ---- Message boxes -----------------------------------------------------------------

int Kernel::MessageBoxW(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) {
  QX_ENTER(MessageBoxW, 0)
  Log(Effect::Kind::MessageBox, BoxText(caption, text, type, owner != nullptr));
  const auto answered = [&](int answer, const char* how) {
    Log(Effect::Kind::BoxAnswered, std::string("answered ") + AnswerName(answer) + how);
    return answer;
  };
  if (!queuedAnswers_.empty()) {
    const int answer = queuedAnswers_.front();
    queuedAnswers_.pop_front();
    if (BoxHasButton(type, answer)) return answered(answer, "");
    return answered(DefaultButton(type), " (the queued answer is not one of its buttons)");
  }
  Program* self = Current();
  if (self == nullptr) return answered(DefaultButton(type), " (no one to ask: its first button)");
  const auto previous = boxOpen_;
  const HWND previousForeground = foreground_;
  Window& box = CreateWindowObject(self->pid, kDialogClass, caption, {10, 100, 230, 220}, owner);
  box.messageBox = true;
  box.boxText = text;
  box.boxType = type;
  box.visible = true;
  const HWND hwnd = box.hwnd;
  zOrder_.insert(zOrder_.begin(), hwnd);
  Raise(hwnd, false);
  foreground_ = hwnd;
  boxOpen_ = OpenBox{hwnd, type};
  // As on Win32, the owner takes no input while its box is open.
  Window* ownerWindow = Find(owner);
  const bool disabledOwner = ownerWindow != nullptr && ownerWindow->enabled && !ownerWindow->child;
  if (disabledOwner) ownerWindow->enabled = false;
  const auto pending = [&] {
    const Window* open = Find(hwnd);
    return open != nullptr && !open->boxAnswer;
  };
  while (pending()) {
    MSG msg;
    if (!GetMessageW(&msg)) {
      PostQuitMessage(0);
      break;
    }
    DispatchMessageW(&msg);
  }
  // A box destroyed before anyone answered it fails, as Win32's does.
  const Window* ended = Find(hwnd);
  const int answer = ended != nullptr ? ended->boxAnswer.value_or(0) : 0;
  const bool byProgram = ended != nullptr && ended->boxEndedByProgram;
  if (Window* back = Find(owner); disabledOwner && back != nullptr) back->enabled = true;
  boxOpen_ = previous;
  DestroyTree(hwnd, false);
  // A window hidden while the box was up does not get the foreground back:
  // the box's closing has already passed it to the next window shown.
  if (const Window* back = Find(previousForeground); back != nullptr && back->visible) {
    foreground_ = previousForeground;
  }
  return answered(answer, byProgram ? " (ended by its program)" : "");
}

void Kernel::EndBox(Window& box, int answer) {
  box.boxAnswer = answer;
  PostToProgram(box.processId, {nullptr, WM_NULL, 0, 0});
}

BOOL Kernel::EndDialog(HWND hwnd, INT_PTR result) {
  QX_ENTER(EndDialog, FALSE)
  Window* box = Find(hwnd);
  const Program* self = Current();
  // The framework runs its own dialogs' loops; the device's are the boxes.
  if (box == nullptr || !box->messageBox || self == nullptr || box->processId != self->pid) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    return FALSE;
  }
  if (!box->boxAnswer) {
    box->boxEndedByProgram = true;
    EndBox(*box, plantedBoxEnd_.value_or(static_cast<int>(result)));
  }
  return TRUE;
}

bool Kernel::Answer(int button, std::string* why) {
  if (boxOpen_) {
    if (!BoxHasButton(boxOpen_->type, button)) {
      if (why != nullptr) *why = std::string("the open box has no such button; its buttons are ") + BoxButtonNames(boxOpen_->type);
      return false;
    }
    if (Window* box = Find(boxOpen_->window)) EndBox(*box, button);
    RunUntilQuiet();
    return true;
  }
  queuedAnswers_.push_back(button);
  return true;
}

// ---- Menus ---------------------------------------------------------------------------

namespace {
HMENU MenuHandle(std::uintptr_t value) { return reinterpret_cast<HMENU>(value); }
}  // namespace

HMENU Kernel::LoadMenuW(const MenuTemplate& menu) {
  QX_ENTER(LoadMenuW, nullptr)
  const std::function<HMENU(std::span<const MenuItemTemplate>)> build = [&](std::span<const MenuItemTemplate> items) {
    auto created = std::make_unique<Menu>();
    for (const MenuItemTemplate& item : items) {
      Menu::Item entry;
      entry.id = item.id;
      entry.text = item.text;
      entry.separator = item.id == 0 && item.text.empty() && item.popup.empty();
      if (!item.popup.empty()) entry.popup = build(item.popup);
      created->items.push_back(std::move(entry));
    }
    const HMENU handle = MenuHandle(nextHandle_ += 4);
    menus_[reinterpret_cast<std::uintptr_t>(handle)] = std::move(created);
    return handle;
  };
  // Sub-menus go with the menu that holds them: only the menu is a handle
  // to give back.
  const HMENU loaded = build(menu.items);
  ledger_.handles().Opened(HandleKind::Menu, HandleValue(loaded), std::to_string(menu.id));
  return loaded;
}

HMENU Kernel::GetSubMenu(HMENU menu, int position) {
  QX_ENTER(GetSubMenu, nullptr)
  const auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menu));
  if (it == menus_.end() || position < 0 || static_cast<std::size_t>(position) >= it->second->items.size()) {
    return nullptr;
  }
  return it->second->items[static_cast<std::size_t>(position)].popup;
}

BOOL Kernel::RemoveMenu(HMENU menu, UINT item, UINT flags) {
  QX_ENTER(RemoveMenu, FALSE)
  const auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menu));
  if (it == menus_.end()) return FALSE;
  auto& items = it->second->items;
  if ((flags & MF_BYPOSITION) != 0) {
    if (item >= items.size()) return FALSE;
    items.erase(items.begin() + item);
    return TRUE;
  }
  for (auto entry = items.begin(); entry != items.end(); ++entry) {
    if (!entry->separator && entry->popup == nullptr && entry->id == item) {
      items.erase(entry);
      return TRUE;
    }
    if (entry->popup != nullptr && RemoveMenu(entry->popup, item, flags)) return TRUE;
  }
  return FALSE;
}

DWORD Kernel::CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  QX_ENTER(CheckMenuItem, 0xFFFFFFFF)
  const auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menu));
  if (it == menus_.end()) return 0xFFFFFFFF;
  for (std::size_t i = 0; i < it->second->items.size(); ++i) {
    Menu::Item& entry = it->second->items[i];
    const bool match = (flags & MF_BYPOSITION) != 0 ? i == item : (!entry.separator && entry.id == item);
    if (match) {
      const DWORD previous = entry.checked ? MF_CHECKED : MF_UNCHECKED;
      entry.checked = (flags & MF_CHECKED) != 0;
      return previous;
    }
  }
  return 0xFFFFFFFF;
}

BOOL Kernel::DestroyMenu(HMENU menu) {
  QX_ENTER_CLOSE(DestroyMenu, Menu, HandleValue(menu), FALSE)
  const auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menu));
  if (it == menus_.end()) return FALSE;
  ledger_.handles().Closed(HandleKind::Menu, HandleValue(menu));
  std::vector<HMENU> popups;
  for (const auto& entry : it->second->items) {
    if (entry.popup != nullptr) popups.push_back(entry.popup);
  }
  menus_.erase(it);
  for (HMENU popup : popups) DestroyMenu(popup);
  return TRUE;
}

std::vector<MenuItemInfo> Kernel::OpenMenuItems() {
  auto shown = OpenMenuShown();
  return shown ? std::move(shown->items) : std::vector<MenuItemInfo>{};
}

std::optional<OpenMenuInfo> Kernel::OpenMenuShown() const {
  if (!menuOpen_) return std::nullopt;
  OpenMenuInfo info{menuOpen_->at, menuOpen_->flags, {}};
  if (const auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menuOpen_->menu)); it != menus_.end()) {
    for (const auto& entry : it->second->items) info.items.push_back({entry.id, entry.text, entry.checked, entry.separator});
  }
  return info;
}

BOOL Kernel::TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) {
  QX_ENTER(TrackPopupMenu, FALSE)
  const auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menu));
  if (it == menus_.end() || Find(owner) == nullptr) return FALSE;
  std::vector<MenuItemInfo> items;
  for (const auto& entry : it->second->items) items.push_back({entry.id, entry.text, entry.checked, entry.separator});
  Log(Effect::Kind::Menu, MenuText(x, y, flags, items));
  Program* self = Current();
  if (self == nullptr) return TRUE;  // nobody to choose: the menu closes at once
  const auto previous = menuOpen_;
  menuOpen_ = OpenMenu{menu, owner, self->pid, {x, y}, flags, std::nullopt};
  while (menuOpen_ && !menuOpen_->done) {
    MSG msg;
    if (!GetMessageW(&msg)) {
      PostQuitMessage(0);
      break;
    }
    DispatchMessageW(&msg);
  }
  const std::optional<UINT> choice = menuOpen_ ? menuOpen_->choice : std::nullopt;
  menuOpen_ = previous;
  if (choice) PostMessageW(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(*choice), 0), 0);
  return TRUE;
}

bool Kernel::ChooseMenuItem(std::u16string_view entry, std::string* why) {
  if (!menuOpen_) {
    if (why != nullptr) *why = "no popup menu is open";
    return false;
  }
  std::string names;
  for (const MenuItemInfo& item : OpenMenuItems()) {
    if (item.separator) continue;
    if (EqualsNoCase(item.text, entry) || Utf16(std::to_string(item.id)) == entry) {
      menuOpen_->choice = item.id;
      menuOpen_->done = true;
      Log(Effect::Kind::MenuChoice, "chosen: " + Utf8(item.text));
      PostToProgram(menuOpen_->processId, {nullptr, WM_NULL, 0, 0});
      RunUntilQuiet();
      return true;
    }
    names += (names.empty() ? "" : ", ") + ("\"" + Utf8(item.text) + "\"");
  }
  if (why != nullptr) *why = "the open menu has no entry \"" + Utf8(entry) + "\"; it offers " + names;
  return false;
}

BOOL Kernel::EndMenu() {
  QX_ENTER(EndMenu, FALSE)
  const Program* self = Current();
  if (!menuOpen_ || self == nullptr || menuOpen_->processId != self->pid || menuOpen_->done) return FALSE;
  menuOpen_->done = true;
  Log(Effect::Kind::MenuChoice, std::string(kMenuEndedText));
  PostToProgram(menuOpen_->processId, {nullptr, WM_NULL, 0, 0});
  return TRUE;
}

void Kernel::DismissMenu() {
  if (!menuOpen_) return;
  menuOpen_->done = true;
  Log(Effect::Kind::MenuChoice, "menu dismissed");
  PostToProgram(menuOpen_->processId, {nullptr, WM_NULL, 0, 0});
  RunUntilQuiet();
}

// ---- Drawing --------------------------------------------------------------------------

COLORREF Kernel::GetSysColor(int index) {
  QX_ENTER(GetSysColor, 0)
  switch (index & ~static_cast<int>(SYS_COLOR_INDEX_FLAG)) {
    case COLOR_BTNFACE: return RGB(192, 192, 192);
    case COLOR_BTNSHADOW: return RGB(128, 128, 128);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    default: return RGB(0, 0, 0);
  }
}

HBRUSH Kernel::GetStockObject(int object) {
  QX_ENTER(GetStockObject, nullptr)
  return reinterpret_cast<HBRUSH>(static_cast<std::uintptr_t>(0xB000 + object));
}

void Kernel::FillSolidRect(HDC dc, const RECT& rect, COLORREF color) {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::FillSolidRect)) return;
  if (Window* window = Find(reinterpret_cast<HWND>(dc))) window->paint.push_back({DrawOp::Kind::Fill, rect, color, 0, 0});
}

void Kernel::Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::Draw3dRect)) return;
  if (Window* window = Find(reinterpret_cast<HWND>(dc))) {
    window->paint.push_back({DrawOp::Kind::Border, rect, topLeft, bottomRight, 0});
  }
}

HICON Kernel::LoadIconImage(int resourceId, int cx, int cy) {
  QX_ENTER(LoadIconImage, nullptr)
  (void)cx;
  (void)cy;
  const Program* self = Current();
  if (self == nullptr || std::find(self->iconIds.begin(), self->iconIds.end(), resourceId) == self->iconIds.end()) {
    SetLastError(1813);  // ERROR_RESOURCE_TYPE_NOT_FOUND
    return nullptr;
  }
  const HICON icon = reinterpret_cast<HICON>(nextHandle_ += 4);
  icons_[reinterpret_cast<std::uintptr_t>(icon)] = resourceId;
  ledger_.handles().Opened(HandleKind::Icon, HandleValue(icon), std::to_string(resourceId));
  return icon;
}

BOOL Kernel::DestroyIcon(HICON icon) {
  QX_ENTER_CLOSE(DestroyIcon, Icon, HandleValue(icon), FALSE)
  if (icons_.erase(reinterpret_cast<std::uintptr_t>(icon)) == 0) return FALSE;
  ledger_.handles().Closed(HandleKind::Icon, HandleValue(icon));
  return TRUE;
}

BOOL Kernel::DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT flags) {
  QX_ENTER(DrawIconEx, FALSE)
  (void)flags;
  const auto it = icons_.find(reinterpret_cast<std::uintptr_t>(icon));
  Window* window = Find(reinterpret_cast<HWND>(dc));
  if (it == icons_.end() || window == nullptr) return FALSE;
  // Icons are 16 x 16 at their natural size.
  const int width = cx == 0 ? 16 : cx;
  const int height = cy == 0 ? 16 : cy;
  window->paint.push_back({DrawOp::Kind::Icon, {x, y, x + width, y + height}, 0, 0, it->second});
  return TRUE;
}

bool Kernel::PaintOwnerDrawn(HWND hwnd) {
  Window* window = Find(hwnd);
  if (window == nullptr || !window->child) return false;
  window->paint.clear();
  DRAWITEMSTRUCT item;
  item.CtlType = 4;     // ODT_BUTTON
  item.CtlID = static_cast<UINT>(window->id);
  item.itemAction = 1;  // ODA_DRAWENTIRE
  item.itemState = (window->pushed ? ODS_SELECTED : 0) | (focus_ == hwnd ? ODS_FOCUS : 0) |
                   (window->enabled ? 0 : ODS_DISABLED);
  item.hwndItem = hwnd;
  item.hDC = reinterpret_cast<HDC>(hwnd);
  item.rcItem = {0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
  SendMessageW(window->parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
  RecordPaint(hwnd);
  return true;
}

void Kernel::RecordPaint(HWND hwnd) {
  Window* window = Find(hwnd);
  if (window == nullptr) return;
  if (window->paint.size() == window->lastPaint.size() &&
      std::equal(window->paint.begin(), window->paint.end(), window->lastPaint.begin(),
                 [](const DrawOp& a, const DrawOp& b) {
                   return a.kind == b.kind && a.rect == b.rect && a.color == b.color && a.color2 == b.color2 &&
                          a.iconId == b.iconId;
                 })) {
    return;  // the same picture again is nothing a person would notice
  }
  window->lastPaint = window->paint;
  std::string text;
  for (const DrawOp& op : window->paint) {
    if (!text.empty()) text += ", ";
    switch (op.kind) {
      case DrawOp::Kind::Fill: text += "background " + Hex(op.color); break;
      case DrawOp::Kind::Border: text += "border " + Hex(op.color) + "/" + Hex(op.color2); break;
      case DrawOp::Kind::Icon: text += "icon " + std::to_string(op.iconId); break;
    }
  }
  Log(Effect::Kind::Paint, "painted " + Label(hwnd) + ": " + (text.empty() ? "nothing" : text));
}

}  // namespace qx::sim
