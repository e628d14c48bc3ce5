// The scenario verbs on Wine: what each step of the language means on the
// Windows builds, realised through the agent, the prefix's files and the
// link file. Lines reach here only once the simulated device's runner has
// read them, so their words are in order; what can still go wrong is the
// world's ("there is no window ...").
#include <algorithm>
#include <charconv>
#include <fstream>

#include "client/resources.h"
#include "platform/sim/effect_text.h"
#include "platform/sim/reg_format.h"
#include "tools/qxsim/verbs.h"
#include "tools/qxsim/world_wine.h"

namespace qx::qxsim {

namespace {

long long Integer(const std::string& text) {
  long long value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::string HexOf(std::span<const BYTE> data) { return observed::HexBytes(data); }

std::string Centre(const RECT& rect, bool y) {
  return std::to_string(y ? (rect.top + rect.bottom) / 2 : (rect.left + rect.right) / 2);
}

// What each verb prints the way the simulated device's runner prints it.
void ListConnections(WineWorld& w) {
  bool ok = false;
  // A hang-up blanks its connection's line; each other line is "=NAME".
  std::istringstream lines(ReadFile(w.HostPath(u"\\windows\\qx-dialup.txt"), &ok));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    w.out << "    \"" << line.substr(1) << "\"\n";
  }
}

}  // namespace

void WineWorld::RunVerb(const Line& line, Step& step) {
  const std::string first = Lower(line.words[0]);
  const std::string two = line.words.size() > 1 ? first + " " + Lower(line.words[1]) : first;
  const auto word = [&](std::size_t i) -> const std::string& { return line.words[i]; };
  const auto notCompared = [&](const std::string& why) { step.notCompared = why; };

  if (first == "note") return;
  if (first == "expect") return Expect(line, step);

  if (first == "import") {
    // Exact bytes and types through the agent, as the importer reads them.
    bool ok = false;
    const std::filesystem::path path = line.file.parent_path() / word(1);
    const std::string text = ReadFile(path, &ok);
    sim::SimDevice scratch;
    if (!ok || sim::ImportReg(scratch.registry(), text, path.string())) Fail(line, "cannot import " + path.string());
    const sim::RegistryImage image = scratch.registry().Image();
    for (std::size_t r = 0; r < image.roots.size(); ++r) {
      const HKEY root = sim::kRegistryRoots[r];
      const std::string rootName = sim::Utf8(sim::RootName(root));
      const std::function<void(const sim::RegistryImage::Key&, const std::u16string&)> put =
          [&](const sim::RegistryImage::Key& key, const std::u16string& keyPath) {
            if (!keyPath.empty()) {
              Ask(line, {"reg-create", rootName, sim::Utf8(keyPath)});
              // Keys that only lead to others are not read (see worlds.cpp).
              if (!key.values.empty() || key.subKeys.empty()) Watch(root, keyPath);
            }
            for (const sim::RegValue& value : key.values) {
              Ask(line, {"reg-set", rootName, sim::Utf8(keyPath), sim::Utf8(value.name), std::to_string(value.type),
                         HexOf(value.data)});
            }
            for (const auto& sub : key.subKeys) put(sub, keyPath.empty() ? sub.name : keyPath + u"\\" + sub.name);
          };
      put(image.roots[r], u"");
    }
    return;
  }

  if (first == "export") {
    std::size_t next = 1;
    std::optional<std::pair<HKEY, std::u16string>> scope;
    if (next < line.words.size() && Lower(word(next)) != "to") {
      std::u16string keyPath = sim::Utf16(word(next));
      const auto slash = keyPath.find(u'\\');
      const auto root = sim::RootFromName(keyPath.substr(0, slash));
      if (!root) Fail(line, "\"" + word(next) + "\" does not start with HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE");
      scope = std::make_pair(*root, slash == std::u16string::npos ? std::u16string() : keyPath.substr(slash + 1));
      ++next;
    }
    if (!scope || scope->second.empty()) {
      return notCompared("a whole root, where Wine has keys of its own");
    }
    sim::RegistryImage image;
    for (HKEY root : sim::kRegistryRoots) image.roots.push_back({std::u16string(sim::RootName(root)), {}, {}});
    if (const auto key = Key(line, scope->first, scope->second, true)) {
      const std::size_t index = scope->first == HKEY_CLASSES_ROOT ? 0 : scope->first == HKEY_CURRENT_USER ? 1 : 2;
      sim::RegistryImage::Key* at = &image.roots[index];
      std::u16string_view rest = scope->second;
      while (!rest.empty()) {
        const std::size_t slash = std::min(rest.find(u'\\'), rest.size());
        at->subKeys.push_back({std::u16string(rest.substr(0, slash)), {}, {}});
        at = &at->subKeys.back();
        rest = slash < rest.size() ? rest.substr(slash + 1) : std::u16string_view();
      }
      *at = *key;
    }
    const std::string text = sim::ExportReg(image, scope);
    if (next + 1 < line.words.size()) {
      std::ofstream(line.file.parent_path() / word(next + 1), std::ios::binary) << text;
    } else {
      std::istringstream lines(text);
      for (std::string row; std::getline(lines, row);) out << "    | " << row << "\n";
    }
    return;
  }

  if (two == "start client") {
    StartProgram(line, line.words.size() == 3 && word(2) == "2003" ? kClient2003Path : kClient2002Path, u"");
    return;
  }
  if (two == "close client") {
    const std::size_t index = line.words.size() == 3 ? static_cast<std::size_t>(Integer(word(2)) - 1) : 0;
    const auto tray = TrayWindow(line, index);
    if (!tray) Fail(line, "the tray client is not running");
    Ask(line, {"close", tray->hwnd});
    return;
  }
  if (first == "advance") {
    Advance(line, VerbTable::DurationOf(line));
    return;
  }
  if (two == "browser open") {
    Ask(line, {"shell", "iexplore.exe", line.words.size() == 3 ? word(2) : std::string()});
    return;
  }
  if (two == "browser height") {
    std::string ambiguous;
    const auto browser = WindowNamed(line, "browser", &ambiguous);
    if (!browser) Fail(line, "there is no window \"browser\"");
    Ask(line, {"client-height", browser->hwnd, word(2)});
    return;
  }
  if (first == "front" || two == "window close") {
    const std::string& name = first == "front" ? word(1) : word(2);
    std::string ambiguous;
    const auto window = WindowNamed(line, name, &ambiguous);
    if (!ambiguous.empty()) Fail(line, ambiguous);
    if (!window) Fail(line, "there is no window \"" + name + "\"");
    Ask(line, {first == "front" ? "front" : "close", window->hwnd});
    return;
  }
  if (two == "window open") {
    const bool placed = line.words.size() == 8;
    Ask(line, {"open-window", word(2), word(3), placed ? word(4) : "0", placed ? word(5) : "26",
               placed ? word(6) : "240", placed ? word(7) : "268"});
    return;
  }
  if (two == "window child") {
    std::string ambiguous;
    const auto parent = WindowNamed(line, word(2), &ambiguous);
    if (!parent) Fail(line, "there is no window \"" + word(2) + "\"");
    Ask(line, {"child-window", parent->hwnd, word(3), word(4), word(5), word(6), word(7)});
    return;
  }
  if (first == "windows" || first == "processes") {
    if (first == "windows") {
      for (const WineWindow& w : Windows(line)) {
        char rect[64];
        std::snprintf(rect, sizeof rect, "(%d,%d)-(%d,%d)", static_cast<int>(w.rect.left), static_cast<int>(w.rect.top),
                      static_cast<int>(w.rect.right), static_cast<int>(w.rect.bottom));
        out << "    " << (w.foreground ? "> " : "  ") << "\"" << sim::Utf8(w.title) << "\" (" << sim::Utf8(w.className)
            << ") " << rect << (w.visible ? "" : " hidden") << (w.topmost ? " topmost" : "")
            << (w.enabled ? "" : " disabled") << " of \"" << sim::Utf8(w.image) << "\"\n";
      }
    } else {
      for (const auto& fields : Ask(line, {"processes"}).lines) {
        if (fields.size() >= 3 && fields[0] == "p") out << "    " << fields[1] << " \"" << fields[2] << "\"\n";
      }
    }
    return notCompared(first == "windows" ? "the listing of every window, where Wine has windows of its own"
                                          : "the process table, where Wine has processes of its own");
  }
  if (two == "process start") {
    // A stand-in under that name, as the device would run its own.
    const std::filesystem::path to = HostPath(u"\\windows\\system32\\" + sim::Utf16(word(2)));
    std::error_code error;
    if (!std::filesystem::exists(to, error)) {
      std::filesystem::copy_file(HostPath(u"\\qx\\standin.exe"), to, error);
    }
    Ask(line, {"start", "C:\\windows\\system32\\" + word(2), "", ""});
    return;
  }
  if (first == "toolhelp") {
    const std::filesystem::path dll = HostPath(u"\\windows\\system32\\toolhelp.dll");
    std::error_code error;
    if (Lower(word(1)) == "absent") {
      std::filesystem::remove(dll, error);
    } else {
      std::filesystem::copy_file(session_.DriveC() / "qx/toolhelp.dll", dll,
                                 std::filesystem::copy_options::overwrite_existing, error);
    }
    return;
  }
  if (first == "dial") {
    // Named literally (the stand-in library reads a leading "!" as a
    // connection whose hang-up fails, which the device's dial-up never has),
    // and as the dialler names it: its first 20 characters.
    std::ofstream(HostPath(u"\\windows\\qx-dialup.txt"), std::ios::app) << "="
        << sim::Utf8(sim::Utf16(word(1)).substr(0, RAS_MaxEntryName)) << "\r\n";
    return;
  }
  if (first == "connections") return ListConnections(*this);

  if (first == "tap" || two == "stylus down" || two == "stylus up" || first == "pointer") {
    if (two == "stylus up") {
      Ask(line, {"up"});
      return;
    }
    std::string x;
    std::string y;
    if (first == "pointer" || two == "stylus down") {
      x = word(line.words.size() - 2);
      y = word(line.words.size() - 1);
      Ask(line, {first == "pointer" ? "move" : "down", x, y});
      return;
    }
    if (line.words.size() == 3) {
      x = word(1);
      y = word(2);
    } else if (Lower(word(1)) == "button") {
      const auto tray = TrayWindow(line);
      if (!tray) Fail(line, "the tray client is not running");
      for (const sim::WindowInfo& control : Controls(line, tray->hwnd)) {
        if (control.id != IDC_MENU_BUTTON) continue;
        if (!control.visible || !tray->visible) Fail(line, "the tray button is not shown");
        x = Centre(control.rect, false);
        y = Centre(control.rect, true);
      }
      if (x.empty()) Fail(line, "the tray button is not shown");
    } else {
      std::string ambiguous;
      const auto window = WindowNamed(line, word(1), &ambiguous);
      if (!ambiguous.empty()) Fail(line, ambiguous);
      if (!window) Fail(line, "there is no window \"" + word(1) + "\"");
      // The window where no window in front of it covers it.
      const auto windows = Windows(line);
      const auto it = std::find_if(windows.begin(), windows.end(), [&](const auto& w) { return w.hwnd == window->hwnd; });
      const auto own = [&](POINT p) {
        for (auto w = windows.begin(); w != it; ++w) {
          if (w->visible && PtInRect(w->rect, p)) return false;
        }
        return PtInRect(window->rect, p);
      };
      std::optional<POINT> point;
      const POINT centre{(window->rect.left + window->rect.right) / 2, (window->rect.top + window->rect.bottom) / 2};
      if (own(centre)) point = centre;
      for (LONG py = window->rect.top; !point && py < window->rect.bottom; ++py) {
        for (LONG px = window->rect.left; !point && px < window->rect.right; ++px) {
          if (own({px, py})) point = POINT{px, py};
        }
      }
      if (!window->visible || !point) Fail(line, "the window \"" + word(1) + "\" is hidden or covered");
      x = std::to_string(point->x);
      y = std::to_string(point->y);
    }
    Ask(line, {"tap", x, y});
    return;
  }

  if (first == "choose" || first == "dismiss") {
    const auto menu = Ask(line, {"menu"});
    if (!menu.ok) Fail(line, "no popup menu is open");
    // The choice is told before what the program makes of it, as the
    // device tells it.
    if (first == "dismiss") {
      Note("menu dismissed");
      Ask(line, {"dismiss"});
      return;
    }
    std::size_t index = 0;
    std::string names;
    for (const auto& fields : menu.lines) {
      if (fields.size() < 5 || fields[0] != "i" || fields[4] == "1") continue;
      if (sim::NamesEqual(sim::Utf16(fields[2]), sim::Utf16(word(1))) || fields[1] == word(1)) {
        Note("chosen: " + fields[2]);
        Ask(line, {"choose", std::to_string(index)});
        return;
      }
      names += (names.empty() ? "" : ", ") + ("\"" + fields[2] + "\"");
      ++index;
    }
    Fail(line, "the open menu has no entry \"" + word(1) + "\"; it offers " + names);
  }

  if (first == "answer") {
    const int button = VerbTable::ButtonOf(word(1));
    bool box = false;
    const auto front = FrontDialog(line, &box);
    if (front && box) {
      Ask(line, {"answer", front->hwnd, std::to_string(button)});
    } else {
      queuedAnswers.push_back(button);
      Note("the next message box will be answered " + word(1));
    }
    return;
  }

  if (first == "dialog" || first == "press" || first == "check" || first == "uncheck" || first == "type" ||
      first == "pick") {
    bool box = false;
    const auto front = FrontDialog(line, &box);
    if (!front) Fail(line, "no dialog is open");
    if (box) {
      const auto shown = Ask(line, {"box", front->hwnd});
      std::string text;
      std::string buttons;
      for (const auto& fields : shown.lines) {
        if (fields.size() >= 4 && fields[0] == "b") {
          text = fields[2];
          buttons = fields[3];
        }
      }
      if (first != "dialog") {
        Fail(line, "a message box is in front (\"" + sim::Utf8(front->title) + "\": \"" + text + "\"): answer it first");
      }
      const UINT type = buttons.find('6') != std::string::npos ? MB_YESNO
                        : buttons.find('2') != std::string::npos ? MB_OKCANCEL
                                                                 : MB_OK;
      out << "    message box \"" << sim::Utf8(front->title) << "\": \"" << text << "\" [" << sim::BoxButtonNames(type)
          << "]\n";
      return;
    }
    const auto controls = Controls(line, front->hwnd);
    if (first == "dialog") {
      out << "    dialog \"" << sim::Utf8(front->title) << "\"\n";
      for (const auto& control : controls) out << "      " << VerbTable::DescribeControl(control) << "\n";
      return;
    }
    const auto number = Number(word(1));
    const sim::WindowInfo* control = nullptr;
    for (const auto& candidate : controls) {
      if ((number && candidate.id == *number && candidate.id != IDC_STATIC) ||
          (!candidate.title.empty() && sim::Utf8(candidate.title) == word(1))) {
        control = &candidate;
        break;
      }
    }
    if (control == nullptr) Fail(line, "the dialog has no control \"" + word(1) + "\"");
    char hwnd[32];
    std::snprintf(hwnd, sizeof hwnd, "%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(control->hwnd)));
    const std::string kind = VerbTable::ControlKind(*control);
    if (first == "type") {
      Ask(line, {"settext", hwnd, word(2)});
      return;
    }
    if (first == "pick") {
      int index = -1;
      for (std::size_t i = 0; i < control->items.size(); ++i) {
        if (sim::Utf8(control->items[i]) == word(2)) index = static_cast<int>(i);
      }
      if (index < 0) {
        if (const auto n = Number(word(2)); n && *n >= 0 && static_cast<std::size_t>(*n) < control->items.size()) {
          index = static_cast<int>(*n);
        }
      }
      if (index < 0) Fail(line, "the list has no item \"" + word(2) + "\"");
      Ask(line, {"select", hwnd, std::to_string(index)});
      return;
    }
    if (first != "press" && control->checked == (first == "check")) {
      out << "    already " << (control->checked ? "checked" : "unchecked") << "\n";
      return;
    }
    if (!control->enabled) Fail(line, "control " + word(1) + " is disabled");
    Ask(line, {"click", hwnd});
    return;
  }

  if (first == "send") {
    std::vector<std::string> words(line.words.begin() + 1, line.words.end());
    std::size_t index = 0;
    if (words.size() >= 3 && Lower(words[words.size() - 3]) == "to") {
      index = static_cast<std::size_t>(Integer(words.back()) - 1);
      words.resize(words.size() - 3);
    }
    const auto tray = TrayWindow(line, index);
    if (!tray) Fail(line, "the tray client is not running");
    const auto sent = Ask(line, {"send", tray->hwnd, words[0], words.size() > 1 ? words[1] : "0",
                                 words.size() > 2 ? words[2] : "0"});
    for (const auto& fields : sent.lines) {
      if (fields.size() >= 2 && fields[0] == "token") sends[fields[1]] = words[0];
    }
    Settle(line);
    for (const auto& [token, message] : sends) Note("message " + message + " waits for the client to finish");
    return;
  }

  if (two == "shell open" || first == "launch") {
    std::u16string program;
    std::u16string arguments;
    if (first == "launch") {
      program = word(1) == "2002" ? u"\\Program Files\\Quorvix\\stv.exe" : u"\\Program Files\\Quorvix2003\\stv.exe";
      arguments = sim::Utf16(word(2));
    } else {
      // The type's open command, from Wine's registry, as the shell reads it.
      const std::u16string target = sim::Utf16(word(2));
      std::u16string type;
      const auto colon = target.find(u"://");
      const auto stringValue = [&](const std::u16string& key) -> std::u16string {
        const auto found = Key(line, HKEY_CLASSES_ROOT, key, false);
        if (!found) return {};
        for (const auto& value : found->values) {
          if (value.name.empty() && (value.type == REG_SZ || value.type == REG_EXPAND_SZ)) return sim::StringText(value.data);
        }
        return {};
      };
      if (colon != std::u16string::npos) {
        type = target.substr(0, colon);
        for (char16_t& c : type) {
          if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        }
      } else {
        const auto dot = target.rfind(u'.');
        if (dot == std::u16string::npos) Fail(line, "the shell cannot tell the type of \"" + word(2) + "\"");
        type = stringValue(target.substr(dot));
        if (type.empty()) Fail(line, "no program is registered for \"" + sim::Utf8(target.substr(dot)) + "\"");
      }
      const std::u16string command = stringValue(type + u"\\Shell\\Open\\Command");
      if (command.empty()) Fail(line, "\"" + sim::Utf8(type) + "\" has no open command");
      if (command[0] == u'"') {
        const auto close = command.find(u'"', 1);
        program = command.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1);
        arguments = close == std::u16string::npos ? u"" : command.substr(close + 1);
      } else {
        const auto blank = command.find(u' ');
        program = command.substr(0, blank);
        arguments = blank == std::u16string::npos ? u"" : command.substr(blank);
      }
      while (!arguments.empty() && arguments.front() == u' ') arguments.erase(arguments.begin());
      for (std::size_t at = 0; (at = arguments.find(u"%1", at)) != std::u16string::npos; at += target.size()) {
        arguments.replace(at, 2, target);
      }
      Note("the shell runs " + sim::Utf8(command));
    }
    StartProgram(line, program, arguments);
    return;
  }

  if (two == "file put") {
    std::string bytes;
    if (line.words.size() == 5 && !line.quoted[3] && Lower(word(3)) == "from") {
      bool ok = false;
      bytes = ReadFile(line.file.parent_path() / word(4), &ok);
    } else {
      bytes = DeviceBytes(line, 3);
    }
    const std::filesystem::path to = HostPath(sim::Utf16(word(2)));
    std::filesystem::create_directories(to.parent_path());
    // A fresh file: the template's are hard links shared with other prefixes.
    std::filesystem::remove(to);
    std::ofstream(to, std::ios::binary) << bytes;
    Note("file \"" + word(2) + "\" holds " + std::to_string(bytes.size()) + " bytes");
    return;
  }
  if (two == "file show" || two == "file get") {
    bool ok = false;
    const std::string bytes = ReadFile(HostPath(sim::Utf16(word(2))), &ok);
    if (!ok) Fail(line, "there is no file \"" + word(2) + "\"");
    if (two == "file get") {
      std::ofstream(line.file.parent_path() / word(4), std::ios::binary) << bytes;
      out << "    " << bytes.size() << " bytes written to " << (line.file.parent_path() / word(4)).string() << "\n";
      return;
    }
    out << VerbTable::ShowFile(word(2), std::vector<BYTE>(bytes.begin(), bytes.end()));
    return;
  }

  if (first == "install" || first == "uninstall") {
    const std::u16string dir = sim::Utf16(word(1));
    const bool install = first == "install";
    if (install) {
      // The package's launcher goes into the directory with the library.
      std::filesystem::create_directories(HostPath(dir));
      std::filesystem::copy_file(session_.DriveC() / "qx/observed/2003/stv.exe", HostPath(dir + u"\\stv.exe"),
                                 std::filesystem::copy_options::overwrite_existing);
      std::filesystem::copy_file(session_.DriveC() / "qx/observed/2003/Pranset.dll", HostPath(dir + u"\\Pranset.dll"),
                                 std::filesystem::copy_options::overwrite_existing);
    }
    // The installer's hooks, with the package's entries between them: the
    // driver tells each hook's result in a file and waits for the runner
    // after the first.
    std::error_code error;
    for (const char* marker : {"", ".first", ".second"}) {
      std::filesystem::remove(HostPath(u"\\windows").string() + "/qx-install-between" + marker, error);
    }
    const std::string hooks = install ? "Install" : "Uninstall";
    const std::string env = "QX_WORLD_LINK=C:\\windows\\qx-link.bin;QX_WORLD_TRACE=C:\\windows\\qx-trace.log";
    Note("installer: " + hooks + "_Init", "installer.exe");
    const auto started = Ask(line, {"start", "C:\\qx\\qxinstall.exe",
                                    first + " \"" + sim::Utf8(dir) + "\\Pranset.dll\" \"" + sim::Utf8(dir) +
                                        "\" \"C:\\windows\\qx-install-between\"",
                                    env});
    for (const auto& fields : started.lines) {
      if (fields.size() < 2 || fields[0] != "pid") continue;
      const DWORD pid = static_cast<DWORD>(Integer(fields[1]));
      names.images[pid] = u"\\Windows\\installer.exe";
      SetInstaller(pid);
    }
    const int init = *HookResult(line, ".first", true);
    Settle(line);
    Note("installer: " + hooks + "_Init returned " + std::to_string(init), "installer.exe");
    if (install && line.words.size() == 4) {
      Note("installer: the package's files are copied and its registry entries written", "installer.exe");
      Line package = line;
      package.words = {"import", word(3)};
      RunVerb(package, step);
    }
    Note("installer: " + hooks + "_Exit", "installer.exe");
    std::ofstream(HostPath(u"\\windows").string() + "/qx-install-between") << "go\n";
    Settle(line);
    if (const auto exit = HookResult(line, ".second", false)) {
      Note("installer: " + hooks + "_Exit returned " + std::to_string(*exit), "installer.exe");
    }
    return;
  }

  if (first == "fail") {
    sim::Fault fault{*sim::CallFromName(word(1))};
    long long values[3] = {1, 1, ERROR_ACCESS_DENIED};
    for (std::size_t i = 2; i < line.words.size(); ++i) values[i - 2] = Integer(word(i));
    fault.nth = static_cast<std::size_t>(values[0]);
    fault.times = static_cast<std::size_t>(values[1]);
    fault.error = static_cast<LONG>(values[2]);
    link->Plan(fault);
    return;
  }
  if (first == "calls") {
    const std::vector<std::size_t> counts = link->Counts();
    for (std::size_t i = 0; i < counts.size(); ++i) {
      if (counts[i] != 0) out << "    " << sim::CallName(static_cast<sim::Call>(i)) << " " << counts[i] << "\n";
    }
    return;
  }
  if (first == "trace") {
    tracing = Lower(word(1)) == "on";
    return;
  }
  if (first == "reset") {
    Reset(line);
    Note(std::string(sim::kSoftResetText));
    return;
  }
  if (two == "kill after") {
    link->KillAfter(static_cast<std::size_t>(Integer(word(2))));
    return;
  }
  Fail(line, "the verb \"" + line.words[0] + "\" has no meaning on Wine yet");
}

}  // namespace qx::qxsim
