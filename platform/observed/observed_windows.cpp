// The observed platform's windows: most calls pass straight through once
// counted; window ends, message boxes and popup menus are traced, menus are
// mirrored so the trace can list a tracked menu's entries, and timers live
// with the runner (the tick gate).
#include <algorithm>
#include <array>

#include "platform/observed/observed_internal.h"

namespace qx::observed {

namespace {

std::u16string Text(IWindows& windows, HWND hwnd, int (IWindows::*get)(HWND, std::span<char16_t>)) {
  std::array<char16_t, 512> buffer{};
  const int length = (windows.*get)(hwnd, buffer);
  return std::u16string(buffer.data(), static_cast<std::size_t>(std::clamp(length, 0, 511)));
}

}  // namespace

HWND ObservedPlatform::Windows::FindWindowW(std::u16string_view className, std::u16string_view title) {
  QX_OBSERVED(FindWindowW, nullptr)
  return inner().FindWindowW(className, title);
}

HWND ObservedPlatform::Windows::WindowFromPoint(POINT point) {
  QX_OBSERVED(WindowFromPoint, nullptr)
  return inner().WindowFromPoint(point);
}

HWND ObservedPlatform::Windows::GetParent(HWND hwnd) {
  QX_OBSERVED(GetParent, nullptr)
  return inner().GetParent(hwnd);
}

HWND ObservedPlatform::Windows::GetForegroundWindow() {
  QX_OBSERVED(GetForegroundWindow, nullptr)
  return inner().GetForegroundWindow();
}

BOOL ObservedPlatform::Windows::SetForegroundWindow(HWND hwnd) {
  QX_OBSERVED(SetForegroundWindow, FALSE)
  return inner().SetForegroundWindow(hwnd);
}

HWND ObservedPlatform::Windows::GetDesktopWindow() {
  QX_OBSERVED(GetDesktopWindow, nullptr)
  return inner().GetDesktopWindow();
}

BOOL ObservedPlatform::Windows::EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
  QX_OBSERVED(EnumWindows, FALSE)
  return inner().EnumWindows(proc, lParam);
}

BOOL ObservedPlatform::Windows::EnumThreadWindows(WNDENUMPROC proc, LPARAM lParam) {
  QX_OBSERVED(EnumThreadWindows, FALSE)
  return inner().EnumThreadWindows(proc, lParam);
}

BOOL ObservedPlatform::Windows::IsWindow(HWND hwnd) {
  QX_OBSERVED(IsWindow, FALSE)
  return inner().IsWindow(hwnd);
}

BOOL ObservedPlatform::Windows::IsWindowVisible(HWND hwnd) {
  QX_OBSERVED(IsWindowVisible, FALSE)
  return inner().IsWindowVisible(hwnd);
}

BOOL ObservedPlatform::Windows::IsWindowEnabled(HWND hwnd) {
  QX_OBSERVED(IsWindowEnabled, FALSE)
  return inner().IsWindowEnabled(hwnd);
}

int ObservedPlatform::Windows::GetClassNameW(HWND hwnd, std::span<char16_t> text) {
  QX_OBSERVED(GetClassNameW, 0)
  return inner().GetClassNameW(hwnd, text);
}

int ObservedPlatform::Windows::GetWindowTextW(HWND hwnd, std::span<char16_t> text) {
  QX_OBSERVED(GetWindowTextW, 0)
  return inner().GetWindowTextW(hwnd, text);
}

BOOL ObservedPlatform::Windows::SetWindowTextW(HWND hwnd, std::u16string_view text) {
  QX_OBSERVED(SetWindowTextW, FALSE)
  return inner().SetWindowTextW(hwnd, text);
}

BOOL ObservedPlatform::Windows::GetWindowRect(HWND hwnd, RECT* rect) {
  QX_OBSERVED(GetWindowRect, FALSE)
  return inner().GetWindowRect(hwnd, rect);
}

BOOL ObservedPlatform::Windows::GetClientRect(HWND hwnd, RECT* rect) {
  QX_OBSERVED(GetClientRect, FALSE)
  return inner().GetClientRect(hwnd, rect);
}

BOOL ObservedPlatform::Windows::ScreenToClient(HWND hwnd, POINT* point) {
  QX_OBSERVED(ScreenToClient, FALSE)
  return inner().ScreenToClient(hwnd, point);
}

BOOL ObservedPlatform::Windows::GetCursorPos(POINT* point) {
  QX_OBSERVED(GetCursorPos, FALSE)
  return inner().GetCursorPos(point);
}

LONG ObservedPlatform::Windows::GetWindowStyle(HWND hwnd) {
  QX_OBSERVED(GetWindowStyle, 0)
  return inner().GetWindowStyle(hwnd);
}

void ObservedPlatform::Windows::SetWindowStyle(HWND hwnd, LONG style) {
  if (state_.Fails(Call::SetWindowStyle)) return;
  inner().SetWindowStyle(hwnd, style);
}

BOOL ObservedPlatform::Windows::ShowWindow(HWND hwnd, int command) {
  QX_OBSERVED(ShowWindow, FALSE)
  return inner().ShowWindow(hwnd, command);
}

BOOL ObservedPlatform::Windows::SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  QX_OBSERVED(SetWindowPos, FALSE)
  return inner().SetWindowPos(hwnd, insertAfter, x, y, cx, cy, flags);
}

BOOL ObservedPlatform::Windows::MoveWindow(HWND hwnd, int x, int y, int cx, int cy, BOOL repaint) {
  QX_OBSERVED(MoveWindow, FALSE)
  return inner().MoveWindow(hwnd, x, y, cx, cy, repaint);
}

BOOL ObservedPlatform::Windows::EnableWindow(HWND hwnd, BOOL enable) {
  QX_OBSERVED(EnableWindow, FALSE)
  return inner().EnableWindow(hwnd, enable);
}

BOOL ObservedPlatform::Windows::DestroyWindow(HWND hwnd) {
  if (state_.Fails(Call::DestroyWindow)) {
    state_.Refused(Held::Window, Value(hwnd));
    return FALSE;
  }
  // A top-level window's end is told as it goes, with what it was.
  const bool topLevel = inner().IsWindow(hwnd) && (static_cast<DWORD>(inner().GetWindowStyle(hwnd)) & WS_CHILD) == 0;
  const std::u16string title = topLevel ? Text(inner(), hwnd, &IWindows::GetWindowTextW) : std::u16string();
  const std::u16string className = topLevel ? Text(inner(), hwnd, &IWindows::GetClassNameW) : std::u16string();
  const std::u16string owner = topLevel ? state_.observer.WindowImage(hwnd) : std::u16string();
  const BOOL destroyed = inner().DestroyWindow(hwnd);
  if (destroyed) {
    state_.Closed(Held::Window, Value(hwnd));
    if (topLevel) state_.Write(Record::Closed, {Utf8(title), Utf8(className), Utf8(owner)});
  }
  return destroyed;
}

HWND ObservedPlatform::Windows::SetFocus(HWND hwnd) {
  QX_OBSERVED(SetFocus, nullptr)
  return inner().SetFocus(hwnd);
}

HWND ObservedPlatform::Windows::GetFocus() {
  QX_OBSERVED(GetFocus, nullptr)
  return inner().GetFocus();
}

BOOL ObservedPlatform::Windows::InvalidateRect(HWND hwnd, BOOL erase) {
  QX_OBSERVED(InvalidateRect, FALSE)
  return inner().InvalidateRect(hwnd, erase);
}

BOOL ObservedPlatform::Windows::CommandBar_Show(HWND hwnd, BOOL show) {
  QX_OBSERVED(CommandBar_Show, FALSE)
  return inner().CommandBar_Show(hwnd, show);
}

HWND ObservedPlatform::Windows::CreateDialogIndirectW(const DialogTemplate& dialog, HWND parent,
                                                      IWindowHandler* handler) {
  QX_OBSERVED(CreateDialogIndirectW, nullptr)
  const HWND hwnd = inner().CreateDialogIndirectW(dialog, parent, handler);
  if (hwnd != nullptr) state_.Opened(Held::Window, Value(hwnd), "\"" + Utf8(dialog.caption) + "\"");
  return hwnd;
}

HWND ObservedPlatform::Windows::GetDlgItem(HWND dialog, int id) {
  QX_OBSERVED(GetDlgItem, nullptr)
  return inner().GetDlgItem(dialog, id);
}

int ObservedPlatform::Windows::GetDlgCtrlID(HWND hwnd) {
  QX_OBSERVED(GetDlgCtrlID, 0)
  return inner().GetDlgCtrlID(hwnd);
}

HWND ObservedPlatform::Windows::GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  QX_OBSERVED(GetNextDlgTabItem, nullptr)
  return inner().GetNextDlgTabItem(dialog, control, previous);
}

BOOL ObservedPlatform::Windows::SubclassWindow(HWND hwnd, IWindowHandler* handler) {
  QX_OBSERVED(SubclassWindow, FALSE)
  return inner().SubclassWindow(hwnd, handler);
}

LRESULT ObservedPlatform::Windows::CallDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  QX_OBSERVED(CallDefaultProc, 0)
  return inner().CallDefaultProc(hwnd, message, wParam, lParam);
}

BOOL ObservedPlatform::Windows::InSendMessage() {
  QX_OBSERVED(InSendMessage, FALSE)
  return inner().InSendMessage();
}

LRESULT ObservedPlatform::Windows::SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  QX_OBSERVED(SendMessageW, 0)
  return inner().SendMessageW(hwnd, message, wParam, lParam);
}

BOOL ObservedPlatform::Windows::PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  QX_OBSERVED(PostMessageW, FALSE)
  return inner().PostMessageW(hwnd, message, wParam, lParam);
}

BOOL ObservedPlatform::Windows::GetMessageW(MSG* msg) {
  QX_OBSERVED(GetMessageW, FALSE)
  return inner().GetMessageW(msg);
}

BOOL ObservedPlatform::Windows::IsDialogMessageW(HWND dialog, MSG* msg) {
  QX_OBSERVED(IsDialogMessageW, FALSE)
  return inner().IsDialogMessageW(dialog, msg);
}

LRESULT ObservedPlatform::Windows::DispatchMessageW(const MSG* msg) {
  QX_OBSERVED(DispatchMessageW, 0)
  // A gated timer with a procedure: the runner's tick arrives as a plain
  // WM_TIMER (it cannot name a procedure of this program), so the
  // procedure is called here, as the system's dispatch would.
  if (msg != nullptr && msg->message == WM_TIMER) {
    const auto it = state_.timerProcs.find({Value(msg->hwnd), msg->wParam});
    if (it != state_.timerProcs.end() && it->second != nullptr) {
      it->second(msg->hwnd, WM_TIMER, msg->wParam, 0);
      return 0;
    }
  }
  return inner().DispatchMessageW(msg);
}

void ObservedPlatform::Windows::PostQuitMessage(int exitCode) {
  if (state_.Fails(Call::PostQuitMessage)) return;
  inner().PostQuitMessage(exitCode);
}

UINT_PTR ObservedPlatform::Windows::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  QX_OBSERVED(SetTimer, 0)
  const UINT_PTR set = state_.observer.SetTimer(hwnd, id, elapseMs);
  if (set != 0) {
    state_.timerProcs[{Value(hwnd), id}] = proc;
    state_.Opened(Held::Timer, (Value(hwnd) << 16) ^ id, std::to_string(id) + " of " + state_.Label(hwnd), hwnd);
  }
  return set;
}

BOOL ObservedPlatform::Windows::KillTimer(HWND hwnd, UINT_PTR id) {
  if (state_.Fails(Call::KillTimer)) {
    state_.Refused(Held::Timer, (Value(hwnd) << 16) ^ id);
    return FALSE;
  }
  const BOOL killed = state_.observer.KillTimer(hwnd, id);
  if (killed) {
    state_.timerProcs.erase({Value(hwnd), id});
    state_.Closed(Held::Timer, (Value(hwnd) << 16) ^ id);
  }
  return killed;
}

int ObservedPlatform::Windows::MessageBoxW(HWND owner, std::u16string_view text, std::u16string_view caption,
                                           UINT type) {
  QX_OBSERVED(MessageBoxW, 0)
  state_.Write(Record::Box, {Utf8(caption), Utf8(text), Decimal(type), owner != nullptr ? "1" : "0"});
  const std::size_t before = state_.boxesEnded.size();
  const int answer = inner().MessageBoxW(owner, text, caption, type);
  // Ended by the program itself (EndDialog while it was open) or by the user.
  const bool byProgram = state_.boxesEnded.size() > before;
  state_.boxesEnded.resize(before);
  state_.Write(Record::Answered, {Decimal(answer), byProgram ? "1" : "0"});
  return answer;
}

BOOL ObservedPlatform::Windows::EndDialog(HWND box, INT_PTR result) {
  QX_OBSERVED(EndDialog, FALSE)
  const BOOL ended = inner().EndDialog(box, result);
  if (ended) state_.boxesEnded.push_back(Value(box));
  return ended;
}

// ---- Menus, mirrored so that a tracked menu's entries can be told ------------------------

HMENU ObservedPlatform::Windows::LoadMenuW(const MenuTemplate& menu) {
  QX_OBSERVED(LoadMenuW, nullptr)
  const HMENU loaded = inner().LoadMenuW(menu);
  if (loaded == nullptr) return nullptr;
  std::vector<State::MenuItem> items;
  for (const MenuItemTemplate& item : menu.items) {
    items.push_back({item.id, std::u16string(item.text), false, item.id == 0 && item.text.empty() && item.popup.empty(),
                     0});
  }
  state_.menus[Value(loaded)] = std::move(items);
  // The entries of each sub-menu, known once GetSubMenu hands out its handle.
  for (std::size_t i = 0; i < menu.items.size(); ++i) {
    if (menu.items[i].popup.empty()) continue;
    const HMENU popup = inner().GetSubMenu(loaded, static_cast<int>(i));
    if (popup == nullptr) continue;
    std::vector<State::MenuItem> entries;
    for (const MenuItemTemplate& item : menu.items[i].popup) {
      entries.push_back({item.id, std::u16string(item.text), false, item.id == 0 && item.text.empty(), 0});
    }
    state_.menus[Value(loaded)][i].popup = Value(popup);
    state_.menus[Value(popup)] = std::move(entries);
  }
  state_.Opened(Held::Menu, Value(loaded), std::to_string(menu.id));
  return loaded;
}

HMENU ObservedPlatform::Windows::GetSubMenu(HMENU menu, int position) {
  QX_OBSERVED(GetSubMenu, nullptr)
  return inner().GetSubMenu(menu, position);
}

BOOL ObservedPlatform::Windows::RemoveMenu(HMENU menu, UINT item, UINT flags) {
  QX_OBSERVED(RemoveMenu, FALSE)
  const BOOL removed = inner().RemoveMenu(menu, item, flags);
  if (removed) {
    auto& items = state_.menus[Value(menu)];
    if ((flags & MF_BYPOSITION) != 0) {
      if (item < items.size()) items.erase(items.begin() + item);
    } else if (const auto it = std::find_if(items.begin(), items.end(),
                                            [&](const State::MenuItem& entry) { return !entry.separator && entry.id == item; });
               it != items.end()) {
      items.erase(it);
    }
  }
  return removed;
}

DWORD ObservedPlatform::Windows::CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  QX_OBSERVED(CheckMenuItem, 0xFFFFFFFF)
  const DWORD previous = inner().CheckMenuItem(menu, item, flags);
  if (previous != 0xFFFFFFFF) {
    auto& items = state_.menus[Value(menu)];
    for (std::size_t i = 0; i < items.size(); ++i) {
      const bool match = (flags & MF_BYPOSITION) != 0 ? i == item : (!items[i].separator && items[i].id == item);
      if (match) items[i].checked = (flags & MF_CHECKED) != 0;
    }
  }
  return previous;
}

BOOL ObservedPlatform::Windows::TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) {
  QX_OBSERVED(TrackPopupMenu, FALSE)
  std::vector<std::string> fields{Decimal(x), Decimal(y), Decimal(flags)};
  for (const State::MenuItem& item : state_.menus[Value(menu)]) {
    fields.push_back(Decimal(item.id) + "|" + (item.checked ? "1" : "0") + "|" + (item.separator ? "1" : "0") + "|" +
                     Utf8(item.text));
  }
  state_.Write(Record::Menu, fields);
  const bool outer = state_.tracking;
  state_.tracking = true;
  const BOOL shown = inner().TrackPopupMenu(menu, flags, x, y, owner);
  state_.tracking = outer;
  return shown;
}

BOOL ObservedPlatform::Windows::EndMenu() {
  QX_OBSERVED(EndMenu, FALSE)
  const BOOL ended = inner().EndMenu();
  if (ended && state_.tracking) state_.Write(Record::MenuEnded, {});
  return ended;
}

BOOL ObservedPlatform::Windows::DestroyMenu(HMENU menu) {
  if (state_.Fails(Call::DestroyMenu)) {
    state_.Refused(Held::Menu, Value(menu));
    return FALSE;
  }
  const BOOL destroyed = inner().DestroyMenu(menu);
  if (destroyed) {
    for (const State::MenuItem& item : state_.menus[Value(menu)]) {
      if (item.popup != 0) state_.menus.erase(item.popup);
    }
    state_.menus.erase(Value(menu));
    state_.Closed(Held::Menu, Value(menu));
  }
  return destroyed;
}

// ---- Drawing ------------------------------------------------------------------------------

COLORREF ObservedPlatform::Windows::GetSysColor(int index) {
  QX_OBSERVED(GetSysColor, 0)
  return inner().GetSysColor(index);
}

HBRUSH ObservedPlatform::Windows::GetStockObject(int object) {
  QX_OBSERVED(GetStockObject, nullptr)
  return inner().GetStockObject(object);
}

void ObservedPlatform::Windows::FillSolidRect(HDC dc, const RECT& rect, COLORREF color) {
  if (state_.Fails(Call::FillSolidRect)) return;
  inner().FillSolidRect(dc, rect, color);
}

void ObservedPlatform::Windows::Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) {
  if (state_.Fails(Call::Draw3dRect)) return;
  inner().Draw3dRect(dc, rect, topLeft, bottomRight);
}

HICON ObservedPlatform::Windows::LoadIconImage(int resourceId, int cx, int cy) {
  QX_OBSERVED(LoadIconImage, nullptr)
  const HICON icon = inner().LoadIconImage(resourceId, cx, cy);
  if (icon != nullptr) state_.Opened(Held::Icon, Value(icon), std::to_string(resourceId));
  return icon;
}

BOOL ObservedPlatform::Windows::DestroyIcon(HICON icon) {
  if (state_.Fails(Call::DestroyIcon)) {
    state_.Refused(Held::Icon, Value(icon));
    return FALSE;
  }
  const BOOL destroyed = inner().DestroyIcon(icon);
  if (destroyed) state_.Closed(Held::Icon, Value(icon));
  return destroyed;
}

BOOL ObservedPlatform::Windows::DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT flags) {
  QX_OBSERVED(DrawIconEx, FALSE)
  return inner().DrawIconEx(dc, x, y, icon, cx, cy, flags);
}

}  // namespace qx::observed
