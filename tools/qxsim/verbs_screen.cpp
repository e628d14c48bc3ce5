// Verbs that act on the screen as the user does: windows, taps, the
// popup menu, dialog controls, message boxes, and messages sent to the
// tray window.
#include "tools/qxsim/verbs.h"

#include <algorithm>
#include <cstdio>

#include "client/resources.h"

namespace qx::qxsim {

int VerbTable::ButtonOf(const std::string& name) {
  const std::string lower = Lower(name);
  if (lower == "ok") return IDOK;
  if (lower == "cancel") return IDCANCEL;
  if (lower == "yes") return IDYES;
  if (lower == "no") return IDNO;
  return 0;
}

int VerbTable::ButtonNamed(Runner& r, const Line& line, const std::string& name) {
  if (const int button = ButtonOf(name)) return button;
  r.Fail(line, "a message box button is OK, Cancel, Yes or No, not \"" + name + "\"");
}

std::optional<sim::WindowInfo> VerbTable::OpenDialog(Runner& r) {
  // The front-most one: a message box over its dialog is what the user sees.
  for (const auto& window : r.device_.kernel().TopLevelWindows()) {
    if (window.visible && window.className == kDialogClass && window.hwnd != r.ClientWindow() &&
        (window.messageBox || !r.device_.kernel().Children(window.hwnd).empty())) {
      return window;
    }
  }
  return std::nullopt;
}

HWND VerbTable::FrontDialog(Runner& r, const Line& line) {
  const auto dialog = OpenDialog(r);
  if (!dialog) r.Fail(line, "no dialog is open");
  if (dialog->messageBox) {
    r.Fail(line, "a message box is in front (\"" + sim::Utf8(dialog->title) + "\": \"" + sim::Utf8(dialog->boxText) +
                     "\"): answer it first");
  }
  return dialog->hwnd;
}

HWND VerbTable::ControlNamed(Runner& r, const Line& line, const std::string& name) {
  const HWND dialog = FrontDialog(r, line);
  const auto number = Number(name);
  std::string known;
  for (const auto& control : r.device_.kernel().Children(dialog)) {
    if ((number && control.id == *number && control.id != IDC_STATIC) ||
        (!control.title.empty() && sim::Utf8(control.title) == name)) {
      return control.hwnd;
    }
    if (control.id != IDC_STATIC) {
      known += (known.empty() ? "" : ", ") + std::to_string(control.id);
      if (!control.title.empty()) known += " \"" + sim::Utf8(control.title) + "\"";
    }
  }
  r.Fail(line, "the dialog has no control \"" + name + "\"; it has " + known);
}

std::optional<POINT> VerbTable::UncoveredPoint(sim::Kernel& kernel, HWND target) {
  const auto windows = kernel.TopLevelWindows();  // front first
  const auto it = std::find_if(windows.begin(), windows.end(), [&](const auto& w) { return w.hwnd == target; });
  if (it == windows.end() || !it->visible) return std::nullopt;
  const auto own = [&](POINT p) {
    for (auto w = windows.begin(); w != it; ++w) {
      if (w->visible && PtInRect(w->rect, p)) return false;
    }
    return PtInRect(it->rect, p);
  };
  const RECT& rect = it->rect;
  const POINT centre{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  if (own(centre)) return centre;
  for (LONG y = rect.top; y < rect.bottom; ++y) {
    for (LONG x = rect.left; x < rect.right; ++x) {
      if (own({x, y})) return POINT{x, y};
    }
  }
  return std::nullopt;
}

std::string VerbTable::ControlKind(const sim::WindowInfo& control) {
  std::string kind = sim::Utf8(control.className);
  const DWORD style = static_cast<DWORD>(control.style);
  if (control.className == kButtonClass) {
    switch (style & BS_TYPEMASK) {
      case BS_AUTOCHECKBOX: kind = "check box"; break;
      case BS_GROUPBOX: kind = "group box"; break;
      case BS_DEFPUSHBUTTON: kind = "default button"; break;
      case BS_OWNERDRAW: kind = "owner-drawn button"; break;
      default: kind = "button"; break;
    }
  } else if (control.className == kEditClass) {
    kind = (style & ES_PASSWORD) != 0 ? "password field" : "text field";
  } else if (control.className == kComboBoxClass) {
    kind = "list";
  } else if (control.className == kStaticClass) {
    kind = (style & SS_TYPEMASK) == SS_BITMAP ? "picture" : (style & SS_TYPEMASK) == SS_ICON ? "icon" : "label";
  }
  return kind;
}

std::string VerbTable::DescribeControl(const sim::WindowInfo& control) {
  const std::string kind = ControlKind(control);
  const DWORD style = static_cast<DWORD>(control.style);
  std::string text = (control.id == IDC_STATIC ? std::string("-") : std::to_string(control.id)) + " " + kind;
  if (control.className == kEditClass && (style & ES_PASSWORD) != 0) {
    text += " \"" + std::string(control.title.size(), '*') + "\"";
  } else if (!control.title.empty() || control.className == kEditClass) {
    text += " \"" + sim::Utf8(control.title) + "\"";
  }
  if ((style & BS_TYPEMASK) == BS_AUTOCHECKBOX && control.className == kButtonClass) {
    text += control.checked ? " [x]" : " [ ]";
  }
  if (control.className == kComboBoxClass) {
    text += " {";
    for (std::size_t i = 0; i < control.items.size(); ++i) {
      text += (i == 0 ? "" : ", ") + std::string(static_cast<int>(i) == control.selection ? "*" : "") +
              sim::Utf8(control.items[i]);
    }
    text += "}";
    if (control.selection < 0) text += " nothing selected";
  }
  if (!control.enabled) text += " (disabled)";
  return text;
}

void VerbTable::AddScreenVerbs(std::vector<Runner::Verb>& verbs) {
  verbs.push_back({"browser height", "browser height PIXELS", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "browser height PIXELS");
                     const auto n = Number(line.words[2]);
                     if (!n || *n < 0 || *n > 10000) r.Fail(line, "usage: browser height PIXELS");
                     r.device_.kernel().SetClientHeight(r.WindowNamed(line, "browser"), static_cast<int>(*n));
                     r.device_.kernel().Note("the browser's client area is " + std::to_string(*n) + " pixels high");
                   }});

  verbs.push_back({"front", "front WINDOW", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 2, "front WINDOW (browser, client, player, tasks, desktop or a title)");
                     r.device_.kernel().BringToFront(r.WindowNamed(line, line.words[1]));
                   }});

  verbs.push_back({"window open", "window open CLASS TITLE [X Y WIDTH HEIGHT]", [](Runner& r, const Line& line) {
                     if (line.words.size() != 4 && line.words.size() != 8) {
                       r.Fail(line, "usage: window open CLASS TITLE [X Y WIDTH HEIGHT]");
                     }
                     RECT rect{0, 26, 240, 294};
                     if (line.words.size() == 8) {
                       long long v[4];
                       for (int i = 0; i < 4; ++i) {
                         const auto n = Number(line.words[4 + i]);
                         if (!n || *n < -10000 || *n > 10000) r.Fail(line, "window geometry must be numbers");
                         v[i] = *n;
                       }
                       rect = {static_cast<LONG>(v[0]), static_cast<LONG>(v[1]), static_cast<LONG>(v[0] + v[2]),
                               static_cast<LONG>(v[1] + v[3])};
                     }
                     const std::u16string className = sim::Utf16(line.words[2]);
                     const HWND hwnd = r.device_.kernel().OpenWorldWindow(u"shell32.exe", className,
                                                                           sim::Utf16(line.words[3]), rect);
                     r.device_.kernel().Note("window opened in front: \"" + line.words[3] + "\" (" + line.words[2] + ")");
                     (void)hwnd;
                     r.device_.kernel().RunUntilQuiet();
                   }});

  verbs.push_back({"window child", "window child WINDOW CLASS X Y WIDTH HEIGHT", [](Runner& r, const Line& line) {
                     Need(r, line, 8, 8, "window child WINDOW CLASS X Y WIDTH HEIGHT");
                     long long v[4];
                     for (int i = 0; i < 4; ++i) {
                       const auto n = Number(line.words[4 + i]);
                       if (!n || *n < -10000 || *n > 10000) r.Fail(line, "window geometry must be numbers");
                       v[i] = *n;
                     }
                     const RECT rect{static_cast<LONG>(v[0]), static_cast<LONG>(v[1]), static_cast<LONG>(v[0] + v[2]),
                                     static_cast<LONG>(v[1] + v[3])};
                     r.device_.kernel().OpenWorldChild(r.WindowNamed(line, line.words[2]), sim::Utf16(line.words[3]),
                                                       rect);
                     r.device_.kernel().Note("child window opened in \"" + line.words[2] + "\" (" + line.words[3] +
                                             ")");
                   }});

  verbs.push_back({"window close", "window close WINDOW", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "window close WINDOW");
                     r.device_.kernel().CloseWindow(r.WindowNamed(line, line.words[2]));
                   }});

  verbs.push_back({"windows", "windows", [](Runner& r, const Line& line) {
                     Need(r, line, 1, 1, "windows");
                     const HWND front = r.device_.kernel().GetForegroundWindow();
                     for (const auto& w : r.device_.kernel().TopLevelWindows()) {
                       char rect[64];
                       std::snprintf(rect, sizeof rect, "(%d,%d)-(%d,%d)", static_cast<int>(w.rect.left),
                                     static_cast<int>(w.rect.top), static_cast<int>(w.rect.right),
                                     static_cast<int>(w.rect.bottom));
                       r.out_ << "    " << (w.hwnd == front ? "> " : "  ") << "\"" << sim::Utf8(w.title) << "\" ("
                              << sim::Utf8(w.className) << ") " << rect << (w.visible ? "" : " hidden")
                              << (w.topmost ? " topmost" : "") << (w.enabled ? "" : " disabled") << " of \""
                              << sim::Utf8(r.device_.kernel().ProcessImage(w.processId)) << "\"\n";
                     }
                   }});

  verbs.push_back({"tap", "tap button | tap WINDOW | tap X Y", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 3, "tap button | tap WINDOW | tap X Y");
                     sim::Kernel& kernel = r.device_.kernel();
                     POINT point{};
                     if (line.words.size() == 3) {
                       const auto x = Number(line.words[1]);
                       const auto y = Number(line.words[2]);
                       if (!x || !y) r.Fail(line, "usage: tap X Y");
                       point = {static_cast<LONG>(*x), static_cast<LONG>(*y)};
                     } else {
                       HWND target = nullptr;
                       if (Lower(line.words[1]) == "button") {
                         const HWND client = r.ClientWindow();
                         if (client == nullptr) r.Fail(line, "the tray client is not running");
                         target = kernel.GetDlgItem(client, IDC_MENU_BUTTON);
                         const auto info = kernel.Describe(target);
                         if (!info || !info->visible) r.Fail(line, "the tray button is not shown");
                         point = {(info->rect.left + info->rect.right) / 2, (info->rect.top + info->rect.bottom) / 2};
                       } else {
                         // The named window itself, where no other covers it.
                         target = r.WindowNamed(line, line.words[1]);
                         const auto uncovered = UncoveredPoint(kernel, target);
                         if (!uncovered) r.Fail(line, "the window \"" + line.words[1] + "\" is hidden or covered");
                         point = *uncovered;
                       }
                     }
                     kernel.StylusDown(point);
                     kernel.StylusUp();
                   }});

  verbs.push_back({"stylus down", "stylus down X Y", [](Runner& r, const Line& line) {
                     Need(r, line, 4, 4, "stylus down X Y");
                     const auto x = Number(line.words[2]);
                     const auto y = Number(line.words[3]);
                     if (!x || !y) r.Fail(line, "usage: stylus down X Y");
                     r.device_.kernel().StylusDown({static_cast<LONG>(*x), static_cast<LONG>(*y)});
                   }});

  verbs.push_back({"stylus up", "stylus up", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 2, "stylus up");
                     r.device_.kernel().StylusUp();
                   }});

  verbs.push_back({"pointer", "pointer X Y", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "pointer X Y");
                     const auto x = Number(line.words[1]);
                     const auto y = Number(line.words[2]);
                     if (!x || !y) r.Fail(line, "usage: pointer X Y");
                     r.device_.kernel().MovePointer({static_cast<LONG>(*x), static_cast<LONG>(*y)});
                   }});

  verbs.push_back({"choose", "choose ENTRY", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 2, "choose ENTRY (its text or command id)");
                     std::string why;
                     if (!r.device_.kernel().ChooseMenuItem(sim::Utf16(line.words[1]), &why)) r.Fail(line, why);
                   }});

  verbs.push_back({"dismiss", "dismiss", [](Runner& r, const Line& line) {
                     Need(r, line, 1, 1, "dismiss");
                     if (!r.device_.kernel().MenuOpen()) r.Fail(line, "no popup menu is open");
                     r.device_.kernel().DismissMenu();
                   }});

  verbs.push_back({"answer", "answer OK|Cancel|Yes|No", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 2, "answer OK|Cancel|Yes|No");
                     const bool open = r.device_.kernel().BoxOpen();
                     std::string why;
                     if (!r.device_.kernel().Answer(ButtonNamed(r, line, line.words[1]), &why)) r.Fail(line, why);
                     if (!open) {
                       r.device_.kernel().Note("the next message box will be answered " + line.words[1]);
                       r.queuedAnswers_.push_back(line.file.string() + ":" + std::to_string(line.number) + ": answer " +
                                                  line.words[1] + " was never taken by a message box");
                     }
                   }});

  verbs.push_back({"dialog", "dialog", [](Runner& r, const Line& line) {
                     Need(r, line, 1, 1, "dialog");
                     const auto open = OpenDialog(r);
                     if (open && open->messageBox) {
                       r.out_ << "    message box \"" << sim::Utf8(open->title) << "\": \"" << sim::Utf8(open->boxText)
                              << "\" [" << sim::BoxButtonNames(open->boxType) << "]\n";
                       return;
                     }
                     const HWND dialog = FrontDialog(r, line);
                     const auto info = r.device_.kernel().Describe(dialog);
                     r.out_ << "    dialog \"" << sim::Utf8(info->title) << "\"\n";
                     for (const auto& control : r.device_.kernel().Children(dialog)) {
                       r.out_ << "      " << DescribeControl(control) << "\n";
                     }
                   }});

  for (const char* action : {"press", "check", "uncheck"}) {
    const std::string name = action;
    verbs.push_back({name, name + " CONTROL", [name](Runner& r, const Line& line) {
                       Need(r, line, 2, 2, name + " CONTROL (its id or its text)");
                       sim::Kernel& kernel = r.device_.kernel();
                       const HWND control = ControlNamed(r, line, line.words[1]);
                       const auto info = kernel.Describe(control);
                       // A step says what the user does to what: a label is
                       // not pressed, a button not checked.
                       const std::string kind = ControlKind(*info);
                       const bool checkBox = kind == "check box";
                       const bool button = checkBox || kind == "button" || kind == "default button" ||
                                           kind == "owner-drawn button";
                       if (name == "press" ? !button : !checkBox) {
                         r.Fail(line, "control " + line.words[1] + " is a " + kind + ": \"" + name + "\" takes " +
                                          (name == "press" ? "a button or a check box" : "a check box"));
                       }
                       if (name != "press" && info->checked == (name == "check")) {
                         r.out_ << "    already " << (info->checked ? "checked" : "unchecked") << "\n";
                         return;
                       }
                       std::string why;
                       if (!kernel.Click(control, &why)) r.Fail(line, why);
                       // A check box shows its new state; a button's effects speak for it.
                       const auto now = kernel.Describe(control);
                       if (now && now->className == kButtonClass &&
                           (static_cast<DWORD>(now->style) & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
                         kernel.Note("now: " + DescribeControl(*now));
                       }
                     }});
  }

  verbs.push_back({"type", "type CONTROL TEXT", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "type CONTROL TEXT");
                     std::string why;
                     const HWND control = ControlNamed(r, line, line.words[1]);
                     if (const auto info = r.device_.kernel().Describe(control); info && info->className != kEditClass) {
                       r.Fail(line, "control " + line.words[1] + " is a " + ControlKind(*info) + ": \"type\" takes a text field");
                     }
                     if (!r.device_.kernel().TypeText(control, sim::Utf16(line.words[2]), &why)) r.Fail(line, why);
                     if (const auto info = r.device_.kernel().Describe(control)) {
                       r.device_.kernel().Note("now: " + DescribeControl(*info));
                     }
                   }});

  verbs.push_back({"pick", "pick CONTROL ITEM", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "pick CONTROL ITEM (its text or its index)");
                     sim::Kernel& kernel = r.device_.kernel();
                     const HWND control = ControlNamed(r, line, line.words[1]);
                     const auto info = kernel.Describe(control);
                     if (ControlKind(*info) != "list") {
                       r.Fail(line, "control " + line.words[1] + " is a " + ControlKind(*info) + ": \"pick\" takes a list");
                     }
                     int index = -1;
                     for (std::size_t i = 0; i < info->items.size(); ++i) {
                       if (sim::Utf8(info->items[i]) == line.words[2]) index = static_cast<int>(i);
                     }
                     if (index < 0) {
                       const auto n = Number(line.words[2]);
                       if (n && *n >= 0 && static_cast<std::size_t>(*n) < info->items.size()) index = static_cast<int>(*n);
                     }
                     std::string why = "the list has no item \"" + line.words[2] + "\"";
                     if (index < 0 || !kernel.SelectItem(control, index, &why)) r.Fail(line, why);
                     if (const auto now = kernel.Describe(control)) kernel.Note("now: " + DescribeControl(*now));
                   }});

  verbs.push_back({"send", "send MESSAGE [WPARAM [LPARAM]] [to client N]", [](Runner& r, const Line& line) {
                     std::vector<std::string> words(line.words.begin() + 1, line.words.end());
                     std::size_t index = 0;
                     if (words.size() >= 3 && Lower(words[words.size() - 3]) == "to" &&
                         Lower(words[words.size() - 2]) == "client") {
                       const auto n = Number(words.back());
                       if (!n || *n < 1) r.Fail(line, "usage: send MESSAGE [WPARAM [LPARAM]] [to client N]");
                       index = static_cast<std::size_t>(*n - 1);
                       words.resize(words.size() - 3);
                     }
                     if (words.empty() || words.size() > 3) {
                       r.Fail(line, "usage: send MESSAGE [WPARAM [LPARAM]] [to client N]");
                     }
                     long long values[3] = {0, 0, 0};
                     for (std::size_t i = 0; i < words.size(); ++i) {
                       const auto n = Number(words[i]);
                       if (!n) r.Fail(line, "\"" + words[i] + "\" is not a number");
                       values[i] = *n;
                     }
                     // Messages whose parameters point at text or records would need
                     // memory of the sender's; a scenario has only numbers to give.
                     constexpr UINT kPointerMessages[] = {WM_CREATE, WM_SETTEXT, WM_GETTEXT, 0x0024, 0x002C, 0x002D,
                                                          0x0039, 0x0046, 0x0047, 0x004A, 0x004E, 0x007C, 0x007D,
                                                          0x0081, 0x0083};
                     if (std::find(std::begin(kPointerMessages), std::end(kPointerMessages),
                                   static_cast<UINT>(values[0])) != std::end(kPointerMessages)) {
                       r.Fail(line, "message " + std::to_string(values[0]) +
                                        " carries a pointer; a scenario can send only messages of numbers");
                     }
                     const HWND client = r.ClientWindow(index);
                     if (client == nullptr) r.Fail(line, "the tray client is not running");
                     // The answer is noted when the handler returns, which may be
                     // in a later step when it first asks the user something.
                     if (!r.device_.kernel().SendFromShell(client, static_cast<UINT>(values[0]),
                                                           static_cast<WPARAM>(values[1]),
                                                           static_cast<LPARAM>(values[2]))) {
                       r.device_.kernel().Note("message " + std::to_string(values[0]) +
                                               " waits for the client to finish");
                     }
                   }});
}

}  // namespace qx::qxsim
