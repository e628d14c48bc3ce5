// What a tap at each place of the screen does, told as the scenario step
// that records it: the tray button is `tap button`, a menu entry `choose`,
// a message box's button `answer`, the front dialog's buttons and check
// boxes `press`, `check` and `uncheck`; its fields and lists ask for the
// text or the item first (`type`, `pick`). Anywhere else a tap is `tap X Y`.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/kernel.h"
#include "tools/qxsim/screen.h"

namespace qx::qxsim {

struct TapRegion {
  enum class Kind {
    Step,    // a tap is `step`
    Field,   // a text field: `step` (`type 1003`) and then the text typed
    List,    // a list: `step` (`pick 1011`) and then the item chosen
    Window,  // a window with nothing of the above here: `tap X Y`
  } kind;
  RECT rect;
  std::string step;
  std::string text;                // a field's text (a password field's stays unsaid)
  bool password = false;
  std::vector<std::string> items;  // a list's items
  int selection = -1;
};

// Front first: the first region holding a point is what a tap there does.
// `tray` is the tray window `tap button` reaches (or null).
std::vector<TapRegion> TapRegions(const sim::Kernel& kernel, HWND tray, const ScreenPlaces& places);

// A word as a scenario line writes it: as it is when it can be read back
// so, otherwise in quotes with \" and \\ inside.
std::string ScenarioWord(std::string_view word);

}  // namespace qx::qxsim
