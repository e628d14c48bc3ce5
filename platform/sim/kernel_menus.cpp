// Popup menus of the simulated device.
#include <functional>

#include "platform/sim/effect_text.h"
#include "platform/sim/kernel_internal.h"
#include "platform/sim/text.h"

namespace qx::sim {

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

}  // namespace qx::sim
