#include "tools/qxsim/serve/taps.h"

#include "client/resources.h"
#include "platform/sim/registry.h"
#include "tools/qxsim/verbs.h"

namespace qx::qxsim {

namespace {

// The dialog `press`, `type` and the others act on: the front one with
// controls, other than the tray window.
HWND FrontDialogOf(const std::vector<sim::WindowInfo>& windows, const sim::Kernel& kernel, HWND tray) {
  for (const sim::WindowInfo& window : windows) {
    if (window.visible && window.className == kDialogClass && window.hwnd != tray && !kernel.Children(window.hwnd).empty()) {
      return window.hwnd;
    }
  }
  return nullptr;
}

// The control a step's name reaches, as the verbs look it up: the first
// whose id the name is, or whose text.
const sim::WindowInfo* Named(const std::vector<sim::WindowInfo>& controls, const std::string& name) {
  const auto number = Number(name);
  for (const sim::WindowInfo& control : controls) {
    if ((number && control.id == *number && control.id != IDC_STATIC) ||
        (!control.title.empty() && sim::Utf8(control.title) == name)) {
      return &control;
    }
  }
  return nullptr;
}

// How a step names the control: by its text where people read one (buttons,
// check boxes), else by its id; empty when neither reaches it.
std::string NameOf(const std::vector<sim::WindowInfo>& controls, const sim::WindowInfo& control, bool byText) {
  const std::string text = sim::Utf8(control.title);
  const std::string id = control.id == IDC_STATIC ? std::string() : std::to_string(control.id);
  for (const std::string& name : byText ? std::vector{text, id} : std::vector{id, text}) {
    if (!name.empty() && Named(controls, name) == &control) return ScenarioWord(name);
  }
  return {};
}

void AddControls(std::vector<TapRegion>& regions, const std::vector<sim::WindowInfo>& controls) {
  for (const sim::WindowInfo& control : controls) {
    if (!control.visible || !control.enabled) continue;
    const DWORD style = static_cast<DWORD>(control.style);
    TapRegion region{TapRegion::Kind::Step, control.rect, {}, {}, false, {}, -1};
    if (control.className == kButtonClass) {
      const DWORD type = style & BS_TYPEMASK;
      if (type == BS_GROUPBOX) continue;
      const std::string name = NameOf(controls, control, true);
      if (name.empty()) continue;
      region.step = (type != BS_AUTOCHECKBOX ? "press " : control.checked ? "uncheck " : "check ") + name;
    } else if (control.className == kEditClass) {
      const std::string name = NameOf(controls, control, false);
      if (name.empty()) continue;
      region.kind = TapRegion::Kind::Field;
      region.step = "type " + name;
      region.password = (style & ES_PASSWORD) != 0;
      if (!region.password) region.text = sim::Utf8(control.title);
    } else if (control.className == kComboBoxClass) {
      const std::string name = NameOf(controls, control, false);
      if (name.empty()) continue;
      region.kind = TapRegion::Kind::List;
      region.step = "pick " + name;
      for (const std::u16string& item : control.items) region.items.push_back(sim::Utf8(item));
      region.selection = control.selection;
    } else {
      continue;
    }
    regions.push_back(std::move(region));
  }
}

void AddMenu(std::vector<TapRegion>& regions, const sim::OpenMenuInfo& menu, const ScreenPlaces& places) {
  for (const ScreenPlaces::MenuEntry& entry : places.menuEntries) {
    const sim::MenuItemInfo& item = menu.items[entry.item];
    // `choose` takes the first entry whose text or id the word is.
    const auto first = [&](const std::u16string& word) {
      for (std::size_t i = 0; i < menu.items.size(); ++i) {
        const sim::MenuItemInfo& other = menu.items[i];
        if (!other.separator && (sim::NamesEqual(other.text, word) || sim::Utf16(std::to_string(other.id)) == word)) {
          return i;
        }
      }
      return menu.items.size();
    };
    const std::u16string id = sim::Utf16(std::to_string(item.id));
    std::u16string name = !item.text.empty() && first(item.text) == entry.item ? item.text : id;
    if (first(name) != entry.item) continue;
    regions.push_back({TapRegion::Kind::Step, entry.rect, "choose " + ScenarioWord(sim::Utf8(name)), {}, false, {}, -1});
  }
}

}  // namespace

std::string ScenarioWord(std::string_view word) {
  if (!word.empty() && word[0] != '#' && word.find_first_of(" \t\r\n\"") == std::string_view::npos) {
    return std::string(word);
  }
  std::string quoted = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::vector<TapRegion> TapRegions(const sim::Kernel& kernel, HWND tray, const ScreenPlaces& places) {
  std::vector<TapRegion> regions;
  if (const auto menu = kernel.OpenMenuShown()) AddMenu(regions, *menu, places);
  const std::vector<sim::WindowInfo> windows = kernel.TopLevelWindows();
  const HWND dialog = FrontDialogOf(windows, kernel, tray);
  // A message box holds its program until it is answered: what lies behind
  // it takes no step but a tap.
  bool behindBox = false;
  for (const sim::WindowInfo& window : windows) {
    if (!window.visible) continue;
    if (window.messageBox) {
      for (const ScreenPlaces::BoxButton& button : places.boxButtons) {
        if (button.box == window.hwnd) {
          regions.push_back({TapRegion::Kind::Step, button.rect, "answer " + sim::Utf8(button.label), {}, false, {}, -1});
        }
      }
      behindBox = true;
    } else if (!behindBox && window.hwnd == tray) {
      // Read from the kernel's views: a looked-up window would count as a
      // call of the programs' and change what `calls` prints.
      for (const sim::WindowInfo& button : kernel.Children(tray)) {
        if (button.id == IDC_MENU_BUTTON && button.visible) {
          regions.push_back({TapRegion::Kind::Step, button.rect, "tap button", {}, false, {}, -1});
        }
      }
    } else if (!behindBox && window.hwnd == dialog && window.enabled) {
      AddControls(regions, kernel.Children(dialog));
    }
    regions.push_back({TapRegion::Kind::Window, window.rect, {}, {}, false, {}, -1});
  }
  return regions;
}

}  // namespace qx::qxsim
