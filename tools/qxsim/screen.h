// A picture of the simulated handheld's 240 x 320 screen, as an SVG
// element: the desktop and the shell's title bar, the top-level windows from
// back to front at their places (the browser with its menu bar, the tray
// button as it last painted itself, dialogs with their controls, message
// boxes), and the popup menu being tracked. Drawn only from the kernel's
// read-only views, so taking a picture changes nothing and counts no call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/kernel.h"

namespace qx::qxsim {

inline constexpr int kScreenWidth = 240;
inline constexpr int kScreenHeight = 320;

// Where the picture put what a tap can reach beyond the windows and
// controls (whose places the kernel tells): the popup menu's entries and
// the message boxes' buttons, front first.
struct ScreenPlaces {
  struct MenuEntry {
    RECT rect;
    std::size_t item;  // its index in the open menu's items
  };
  struct BoxButton {
    RECT rect;
    HWND box;
    std::u16string label;  // "OK", "Cancel", "Yes", "No"
  };
  std::vector<MenuEntry> menuEntries;
  std::vector<BoxButton> boxButtons;
};

// With `places`, also tells where it drew them.
std::string DrawScreen(const sim::Kernel& kernel, ScreenPlaces* places = nullptr);

// Text made safe for HTML and SVG: & < > and " as entities.
std::string EscapeMarkup(std::string_view text);

}  // namespace qx::qxsim
