#include "tools/qxsim/scenario.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "client/quorvix.h"
#include "client/resources.h"
#include "launcher/launcher.h"
#include "setup/pranset.h"

namespace qx::qxsim {

namespace {

constexpr DWORD kTickMs = 200;
constexpr std::u16string_view kInstallerPath = u"\\Windows\\installer.exe";
constexpr std::u16string_view kLauncherPath = u"\\Program Files\\Quorvix\\stv.exe";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return text;
}

std::optional<long long> Number(std::string_view text) {
  long long value = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return negative ? -value : value;
}

std::string Seconds(DWORD ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%03us", static_cast<unsigned>(ms / 1000), static_cast<unsigned>(ms % 1000));
  return text;
}

std::string ReadFile(const std::filesystem::path& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void InstallLauncher(sim::Kernel& kernel, std::u16string_view path, const LauncherEdition& edition) {
  kernel.InstallProgram(path, {[&edition](Platform& platform, std::u16string_view commandLine) {
                                 return RunStrevel(platform, edition, commandLine);
                               },
                               {}});
}

std::u16string StringValue(sim::SimRegistry& registry, HKEY root, std::u16string_view path,
                           std::u16string_view name) {
  const auto value = registry.GetValue(root, path, name);
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return {};
  return sim::StringText(value->data);
}

void InstallPrograms(sim::Kernel& kernel) {
  const std::vector<int> icons(ClientIconIds().begin(), ClientIconIds().end());
  kernel.InstallProgram(kClient2002Path, {[](Platform& platform, std::u16string_view) {
                                            return RunQuorvix(platform, kClient2002Build);
                                          },
                                          icons});
  InstallLauncher(kernel, kLauncherPath, kStrevel2002);
  kernel.InstallProgram(kClient2003Path, {[](Platform& platform, std::u16string_view) {
                                            return RunQuorvix(platform, kClient2003Build);
                                          },
                                          icons});
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view text, std::vector<bool>* quoted, std::string* error) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r') {
      ++i;
      continue;
    }
    if (text[i] == '#') break;
    std::string word;
    if (text[i] == '"') {
      ++i;
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
          word += text[i + 1];
          i += 2;
        } else if (text[i] == '"') {
          closed = true;
          ++i;
          break;
        } else {
          word += text[i++];
        }
      }
      if (!closed) {
        *error = "a quoted word is not closed";
        return {};
      }
      words.push_back(word);
      if (quoted != nullptr) quoted->push_back(true);
      continue;
    }
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') word += text[i++];
    words.push_back(word);
    if (quoted != nullptr) quoted->push_back(false);
  }
  return words;
}

Runner::Runner(std::ostream& out) : out_(out) { InstallPrograms(device_.kernel()); }

int Runner::RunFile(const std::filesystem::path& path) {
  bool ok = false;
  const std::string text = ReadFile(path, &ok);
  if (!ok) {
    out_ << path.string() << ": cannot read the scenario\n";
    return 1;
  }
  return RunText(text, path);
}

int Runner::RunText(std::string_view text, const std::filesystem::path& name) {
  out_ << "Scenario " << name.string() << "\n";
  std::size_t number = 0;
  std::size_t start = 0;
  try {
    while (start <= text.size()) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      ++number;
      Line line;
      line.file = name;
      line.number = number;
      line.text = std::string(text.substr(start, end - start));
      if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
      start = end + 1;
      std::string error;
      line.words = SplitWords(line.text, &line.quoted, &error);
      if (!error.empty()) Fail(line, error);
      if (!line.words.empty()) RunLine(line);
      if (end == text.size()) break;
    }
  } catch (const ScenarioError& error) {
    out_ << error.what() << "\n";
    return 1;
  }
  std::vector<std::string> running;
  for (const auto& process : device_.kernel().Processes()) {
    if (process.program) running.push_back(sim::Utf8(process.image));
  }
  out_ << "End of scenario at t=" << Seconds(device_.kernel().Now());
  if (!running.empty()) {
    out_ << "; still running:";
    for (const auto& image : running) out_ << " \"" << image << "\"";
  }
  out_ << "\n";
  return failed_ ? 1 : 0;
}

void Runner::Fail(const Line& line, const std::string& message) const {
  throw ScenarioError(line.file.string() + ":" + std::to_string(line.number) + ": " + message);
}

std::filesystem::path Runner::Resolve(const Line& line, const std::string& path) const {
  const std::filesystem::path given(path);
  if (given.is_absolute()) return given;
  return line.file.parent_path() / given;
}

void Runner::RunLine(const Line& line) {
  const std::string first = Lower(line.words[0]);
  const std::string two = line.words.size() > 1 ? first + " " + Lower(line.words[1]) : std::string();
  const Verb* verb = nullptr;
  for (const Verb& candidate : Verbs()) {
    if (candidate.name == two || candidate.name == first) {
      verb = &candidate;
      if (candidate.name == two) break;
    }
  }
  if (verb == nullptr) {
    std::string known;
    for (const Verb& candidate : Verbs()) {
      if (known.find(candidate.name.substr(0, candidate.name.find(' '))) == std::string::npos) {
        known += (known.empty() ? "" : ", ") + candidate.name.substr(0, candidate.name.find(' '));
      }
    }
    Fail(line, "unknown verb \"" + line.words[0] + "\"; known verbs: " + known);
  }
  if (verb->name == "note") {
    // Notes are the story told to the reader: printed as they stand.
    const std::size_t text = line.text.find_first_not_of(" \t", line.text.find_first_not_of(" \t") + 4);
    if (!inNote_) out_ << "\n";
    out_ << "== " << (text == std::string::npos ? std::string() : line.text.substr(text)) << "\n";
    inNote_ = true;
    return;
  }
  inNote_ = false;
  out_ << "\n[" << line.file.filename().string() << ":" << line.number << " t=" << Seconds(device_.kernel().Now())
       << "] " << line.text.substr(line.text.find_first_not_of(" \t")) << "\n";
  const sim::RegistryImage before = device_.registry().Image();
  device_.kernel().TakeEffects();
  verb->run(*this, line);
  Report(before);
}

void Runner::Report(const sim::RegistryImage& before) {
  for (const sim::Effect& effect : device_.kernel().TakeEffects()) out_ << "    " << effect.text << "\n";
  const std::vector<std::string> changes = sim::Diff(before, device_.registry().Image());
  if (changes.empty()) return;
  out_ << "    registry:\n";
  // Values follow the key they belong to, so each key's path is shown once.
  std::string lastKey;
  for (const std::string& change : changes) {
    const auto open = change.find('[');
    const auto close = change.find("] ", open);
    if (open == std::string::npos || close == std::string::npos) {
      out_ << "      " << change << "\n";
      lastKey = change.substr(open == std::string::npos ? 0 : open);
      continue;
    }
    const std::string key = change.substr(open, close - open + 1);
    if (key != lastKey) out_ << "      " << key << "\n";
    lastKey = key;
    out_ << "        " << change.substr(0, open) << change.substr(close + 2) << "\n";
  }
}

HWND Runner::ClientWindow(std::size_t index) {
  std::size_t seen = 0;
  for (const auto& window : device_.kernel().TopLevelWindows()) {
    const std::u16string image = device_.kernel().ProcessImage(window.processId);
    if (window.className == kDialogClass && (image == kClient2002Path || image == kClient2003Path) &&
        (window.title == u"  " || window.title == u"Internet Explorer")) {
      if (seen++ == index) return window.hwnd;
    }
  }
  return nullptr;
}

HWND Runner::WindowNamed(const Line& line, const std::string& name) {
  sim::Kernel& kernel = device_.kernel();
  const std::string lower = Lower(name);
  HWND hwnd = nullptr;
  if (lower == "browser") {
    hwnd = kernel.FindWindowW(u"IExplore", u"Internet Explorer");
  } else if (lower == "client") {
    hwnd = ClientWindow();
  } else if (lower == "player") {
    hwnd = kernel.FindWindowW(u"WMP", u"Windows Media");
  } else if (lower == "tasks") {
    hwnd = kernel.FindWindowW(u"WisMenuDlg", u"Tasks");
  } else if (lower == "desktop") {
    hwnd = kernel.GetDesktopWindow();
  } else {
    for (const auto& window : kernel.TopLevelWindows()) {
      if (sim::Utf8(window.title) == name) {
        hwnd = window.hwnd;
        break;
      }
    }
  }
  if (hwnd == nullptr) Fail(line, "there is no window \"" + name + "\"");
  return hwnd;
}

HKEY Runner::RootOf(const Line& line, const std::string& keyPath, std::u16string* rest) const {
  const std::u16string path = sim::Utf16(keyPath);
  const auto slash = path.find(u'\\');
  const auto root = sim::RootFromName(path.substr(0, slash));
  if (!root) Fail(line, "\"" + keyPath + "\" does not start with HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE");
  *rest = slash == std::u16string::npos ? std::u16string() : path.substr(slash + 1);
  return *root;
}

// ---- The verbs ------------------------------------------------------------------------

struct VerbTable {
  static void Need(Runner& r, const Line& line, std::size_t min, std::size_t max, const std::string& usage) {
    if (line.words.size() < min || line.words.size() > max) r.Fail(line, "usage: " + usage);
  }

  static DWORD Duration(Runner& r, const Line& line, const std::vector<std::string>& words) {
    // "advance 3 ticks", "advance 600ms", "advance 2s", "advance 1 tick"
    const std::string usage = "advance N ticks | Nms | Ns";
    if (words.size() == 3) {
      const auto n = Number(words[1]);
      const std::string unit = Lower(words[2]);
      if (!n || *n < 0 || (unit != "tick" && unit != "ticks")) r.Fail(line, "usage: " + usage);
      return static_cast<DWORD>(*n) * kTickMs;
    }
    if (words.size() != 2) r.Fail(line, "usage: " + usage);
    std::string text = Lower(words[1]);
    DWORD scale = 1;
    if (text.size() > 2 && text.ends_with("ms")) {
      text.resize(text.size() - 2);
    } else if (text.size() > 1 && text.ends_with("s")) {
      text.resize(text.size() - 1);
      scale = 1000;
    } else {
      r.Fail(line, "usage: " + usage);
    }
    const auto n = Number(text);
    if (!n || *n < 0 || *n > 86400000) r.Fail(line, "usage: " + usage);
    return static_cast<DWORD>(*n) * scale;
  }

  static int ButtonNamed(Runner& r, const Line& line, const std::string& name) {
    const std::string lower = Lower(name);
    if (lower == "ok") return IDOK;
    if (lower == "cancel") return IDCANCEL;
    if (lower == "yes") return IDYES;
    if (lower == "no") return IDNO;
    r.Fail(line, "a message box button is OK, Cancel, Yes or No, not \"" + name + "\"");
  }

  // What the shell does when the user taps a link or a file: finds the
  // type's open command in HKEY_CLASSES_ROOT and starts it with the target
  // in place of %1.
  static void ShellOpen(Runner& r, const Line& line, const std::u16string& target) {
    sim::SimRegistry& registry = r.device_.registry();
    std::u16string type;
    const auto colon = target.find(u"://");
    if (colon != std::u16string::npos) {
      type = target.substr(0, colon);
      for (char16_t& c : type) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      }
    } else {
      const auto dot = target.rfind(u'.');
      if (dot == std::u16string::npos) r.Fail(line, "the shell cannot tell the type of \"" + line.words[2] + "\"");
      type = StringValue(registry, HKEY_CLASSES_ROOT, target.substr(dot), u"");
      if (type.empty()) r.Fail(line, "no program is registered for \"" + sim::Utf8(target.substr(dot)) + "\"");
    }
    const std::u16string command =
        StringValue(registry, HKEY_CLASSES_ROOT, type + u"\\Shell\\Open\\Command", u"");
    if (command.empty()) r.Fail(line, "\"" + sim::Utf8(type) + "\" has no open command");
    std::u16string program;
    std::u16string arguments;
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
    r.device_.kernel().Note("the shell runs " + sim::Utf8(command));
    if (r.device_.kernel().StartProgram(program, arguments) == 0) {
      SHELLEXECUTEINFOW info;
      info.lpVerb = u"open";
      info.lpFile = program;
      info.lpParameters = arguments;
      r.device_.kernel().ShellExecuteExW(&info);
      r.device_.kernel().RunUntilQuiet();
    }
  }

  static void RunInstaller(Runner& r, std::function<void(Platform&)> hooks) {
    // The device's installer calls the hooks from a process of its own, so a
    // message it sends to the client waits for the client as on the device.
    r.device_.kernel().InstallProgram(kInstallerPath, {[hooks](Platform& platform, std::u16string_view) {
                                                         hooks(platform);
                                                         return 0;
                                                       },
                                                       {}});
    r.device_.kernel().StartProgram(kInstallerPath, u"");
  }

  static HWND FrontDialog(Runner& r, const Line& line) {
    for (const auto& window : r.device_.kernel().TopLevelWindows()) {
      if (window.visible && window.className == kDialogClass && !r.device_.kernel().Children(window.hwnd).empty() &&
          window.hwnd != r.ClientWindow()) {
        return window.hwnd;
      }
    }
    r.Fail(line, "no dialog is open");
  }

  static HWND ControlNamed(Runner& r, const Line& line, const std::string& name) {
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

  static std::string DescribeControl(const sim::WindowInfo& control) {
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

  static std::vector<Runner::Verb> Make() {
    std::vector<Runner::Verb> verbs;
    verbs.push_back({"note", "note TEXT...", [](Runner&, const Line&) {}});

    verbs.push_back({"import", "import FILE.reg", [](Runner& r, const Line& line) {
                       Need(r, line, 2, 2, "import FILE.reg");
                       const auto path = r.Resolve(line, line.words[1]);
                       bool ok = false;
                       const std::string text = ReadFile(path, &ok);
                       if (!ok) r.Fail(line, "cannot read \"" + path.string() + "\"");
                       if (auto error = sim::ImportReg(r.device_.registry(), text, path.string())) {
                         r.Fail(line, "cannot import: " + error->ToString());
                       }
                     }});

    verbs.push_back({"export", "export [KEY] [to FILE]", [](Runner& r, const Line& line) {
                       sim::RegScope scope;
                       std::optional<std::filesystem::path> file;
                       std::size_t i = 1;
                       if (i < line.words.size() && Lower(line.words[i]) != "to") {
                         std::u16string rest;
                         const HKEY root = r.RootOf(line, line.words[i], &rest);
                         scope = std::make_pair(root, rest);
                         ++i;
                       }
                       if (i < line.words.size()) {
                         if (Lower(line.words[i]) != "to" || i + 2 != line.words.size()) {
                           r.Fail(line, "usage: export [KEY] [to FILE]");
                         }
                         file = r.Resolve(line, line.words[i + 1]);
                       }
                       const std::string text = sim::ExportReg(r.device_.registry(), scope);
                       if (file) {
                         std::ofstream output(*file, std::ios::binary);
                         output << text;
                         if (!output) r.Fail(line, "cannot write \"" + file->string() + "\"");
                         r.out_ << "    exported to " << file->string() << "\n";
                       } else {
                         std::istringstream lines(text);
                         for (std::string row; std::getline(lines, row);) r.out_ << "    | " << row << "\n";
                       }
                     }});

    verbs.push_back({"start client", "start client [2002|2003]", [](Runner& r, const Line& line) {
                       Need(r, line, 2, 3, "start client [2002|2003]");
                       const bool later = line.words.size() == 3 && line.words[2] == "2003";
                       if (line.words.size() == 3 && !later && line.words[2] != "2002") {
                         r.Fail(line, "usage: start client [2002|2003]");
                       }
                       r.device_.kernel().StartProgram(later ? kClient2003Path : kClient2002Path, u"");
                     }});

    verbs.push_back({"close client", "close client [N]", [](Runner& r, const Line& line) {
                       Need(r, line, 2, 3, "close client [N]");
                       std::size_t index = 0;
                       if (line.words.size() == 3) {
                         const auto n = Number(line.words[2]);
                         if (!n || *n < 1) r.Fail(line, "usage: close client [N] (N counts from 1)");
                         index = static_cast<std::size_t>(*n - 1);
                       }
                       const HWND window = r.ClientWindow(index);
                       if (window == nullptr) r.Fail(line, "the tray client is not running");
                       r.device_.kernel().CloseWindow(window);
                     }});

    verbs.push_back({"advance", "advance N ticks | Nms | Ns", [](Runner& r, const Line& line) {
                       r.device_.kernel().AdvanceTime(Duration(r, line, line.words));
                     }});

    verbs.push_back({"browser open", "browser open [URL]", [](Runner& r, const Line& line) {
                       Need(r, line, 2, 3, "browser open [URL]");
                       const std::u16string url = line.words.size() == 3 ? sim::Utf16(line.words[2]) : u"";
                       SHELLEXECUTEINFOW info;
                       info.lpVerb = u"open";
                       info.lpFile = u"iexplore.exe";
                       info.lpParameters = url;
                       r.device_.kernel().ShellExecuteExW(&info);
                       r.device_.kernel().RunUntilQuiet();
                     }});

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

    verbs.push_back({"processes", "processes", [](Runner& r, const Line& line) {
                       Need(r, line, 1, 1, "processes");
                       for (const auto& p : r.device_.kernel().Processes()) {
                         r.out_ << "    " << p.id << " \"" << sim::Utf8(p.image) << "\"\n";
                       }
                     }});

    verbs.push_back({"process start", "process start IMAGE", [](Runner& r, const Line& line) {
                       Need(r, line, 3, 3, "process start IMAGE");
                       const DWORD pid = r.device_.kernel().AddWorldProcess(sim::Utf16(line.words[2]));
                       r.device_.kernel().Note("process " + std::to_string(pid) + " \"" + line.words[2] + "\" runs");
                     }});

    verbs.push_back({"toolhelp", "toolhelp absent|present", [](Runner& r, const Line& line) {
                       Need(r, line, 2, 2, "toolhelp absent|present");
                       const std::string state = Lower(line.words[1]);
                       if (state != "absent" && state != "present") r.Fail(line, "usage: toolhelp absent|present");
                       r.device_.kernel().SetToolhelpPresent(state == "present");
                       r.device_.kernel().Note("\"toolhelp.dll\" is " + state);
                     }});

    verbs.push_back({"dial", "dial ENTRY-NAME", [](Runner& r, const Line& line) {
                       Need(r, line, 2, 2, "dial ENTRY-NAME");
                       r.device_.kernel().Dial(sim::Utf16(line.words[1]));
                       r.device_.kernel().Note("dial-up connection open: \"" + sim::Utf8(sim::Utf16(line.words[1]).substr(0, RAS_MaxEntryName)) + "\"");
                     }});

    verbs.push_back({"connections", "connections", [](Runner& r, const Line& line) {
                       Need(r, line, 1, 1, "connections");
                       for (const auto& name : r.device_.kernel().Connections()) {
                         r.out_ << "    \"" << sim::Utf8(name) << "\"\n";
                       }
                     }});

    verbs.push_back({"answer", "answer OK|Cancel|Yes|No", [](Runner& r, const Line& line) {
                       Need(r, line, 2, 2, "answer OK|Cancel|Yes|No");
                       const bool open = r.device_.kernel().BoxOpen();
                       std::string why;
                       if (!r.device_.kernel().Answer(ButtonNamed(r, line, line.words[1]), &why)) r.Fail(line, why);
                       if (!open) r.device_.kernel().Note("the next message box will be answered " + line.words[1]);
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
                         } else {
                           target = r.WindowNamed(line, line.words[1]);
                         }
                         const auto info = kernel.Describe(target);
                         point = {(info->rect.left + info->rect.right) / 2, (info->rect.top + info->rect.bottom) / 2};
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

    verbs.push_back({"dialog", "dialog", [](Runner& r, const Line& line) {
                       Need(r, line, 1, 1, "dialog");
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
                       const LRESULT result = r.device_.kernel().SendFromShell(
                           client, static_cast<UINT>(values[0]), static_cast<WPARAM>(values[1]),
                           static_cast<LPARAM>(values[2]));
                       r.device_.kernel().Note("message " + std::to_string(values[0]) + " answered " + std::to_string(result));
                     }});

    verbs.push_back({"install", "install DIRECTORY [package FILE.reg]", [](Runner& r, const Line& line) {
                       if (line.words.size() != 2 && !(line.words.size() == 4 && Lower(line.words[2]) == "package")) {
                         r.Fail(line, "usage: install DIRECTORY [package FILE.reg]");
                       }
                       std::string package;
                       if (line.words.size() == 4) {
                         bool ok = false;
                         const auto path = r.Resolve(line, line.words[3]);
                         package = ReadFile(path, &ok);
                         if (!ok) r.Fail(line, "cannot read \"" + path.string() + "\"");
                         // Check the package's entries now: a bad file must stop the
                         // scenario here, not halfway through the installation.
                         sim::SimDevice scratch;
                         if (auto error = sim::ImportReg(scratch.registry(), package, path.string())) {
                           r.Fail(line, "cannot import: " + error->ToString());
                         }
                       }
                       // The package carries the 2003 launcher into the directory.
                       InstallLauncher(r.device_.kernel(), sim::Utf16(line.words[1]) + u"\\stv.exe", kStrevel2003);
                       RunInstaller(r, [dir = sim::Utf16(line.words[1]), package, &r](Platform& platform) {
                         CPranset pranset(platform);
                         sim::Kernel& kernel = r.device_.kernel();
                         kernel.Note("installer: Install_Init");
                         const int init = pranset.Install_Init(nullptr, TRUE, FALSE, dir);
                         kernel.Note("installer: Install_Init returned " + std::to_string(init));
                         // Copying the package's files takes the installer a while.
                         platform.processes.Sleep(1);
                         if (!package.empty()) {
                           kernel.Note("installer: the package's files are copied and its registry entries written");
                           sim::ImportReg(r.device_.registry(), package, "package");
                         }
                         kernel.Note("installer: Install_Exit");
                         const int exit = pranset.Install_Exit(nullptr, dir, 0, 0, 0, 0, 0);
                         kernel.Note("installer: Install_Exit returned " + std::to_string(exit));
                       });
                     }});

    verbs.push_back({"uninstall", "uninstall DIRECTORY", [](Runner& r, const Line& line) {
                       Need(r, line, 2, 2, "uninstall DIRECTORY");
                       RunInstaller(r, [dir = sim::Utf16(line.words[1]), &r](Platform& platform) {
                         CPranset pranset(platform);
                         sim::Kernel& kernel = r.device_.kernel();
                         kernel.Note("installer: Uninstall_Init");
                         const int init = pranset.Uninstall_Init(nullptr, dir);
                         kernel.Note("installer: Uninstall_Init returned " + std::to_string(init));
                         platform.processes.Sleep(1);
                         kernel.Note("installer: Uninstall_Exit");
                         const int exit = pranset.Uninstall_Exit(nullptr);
                         kernel.Note("installer: Uninstall_Exit returned " + std::to_string(exit));
                       });
                     }});

    verbs.push_back({"file put", "file put DEVICE-PATH TEXT | file put DEVICE-PATH from HOST-FILE",
                     [](Runner& r, const Line& line) {
                       std::string bytes;
                       if (line.words.size() == 5 && Lower(line.words[3]) == "from") {
                         bool ok = false;
                         const auto path = r.Resolve(line, line.words[4]);
                         bytes = ReadFile(path, &ok);
                         if (!ok) r.Fail(line, "cannot read \"" + path.string() + "\"");
                       } else if (line.words.size() == 4) {
                         // The text as typed; \r and \n stand for CR and LF.
                         for (std::size_t i = 0; i < line.words[3].size(); ++i) {
                           const char c = line.words[3][i];
                           if (c == '\\' && i + 1 < line.words[3].size() &&
                               (line.words[3][i + 1] == 'r' || line.words[3][i + 1] == 'n')) {
                             bytes += line.words[3][++i] == 'r' ? '\r' : '\n';
                           } else {
                             bytes += c;
                           }
                         }
                       } else {
                         r.Fail(line, "usage: file put DEVICE-PATH TEXT | file put DEVICE-PATH from HOST-FILE");
                       }
                       r.device_.kernel().PutFile(sim::Utf16(line.words[2]),
                                                  std::vector<BYTE>(bytes.begin(), bytes.end()));
                       r.device_.kernel().Note("file \"" + line.words[2] + "\" holds " + std::to_string(bytes.size()) + " bytes");
                     }});

    verbs.push_back({"file show", "file show DEVICE-PATH", [](Runner& r, const Line& line) {
                       Need(r, line, 3, 3, "file show DEVICE-PATH");
                       const auto bytes = r.device_.kernel().GetFile(sim::Utf16(line.words[2]));
                       if (!bytes) r.Fail(line, "there is no file \"" + line.words[2] + "\"");
                       r.out_ << "    \"" << line.words[2] << "\", " << bytes->size() << " bytes:\n";
                       std::string row;
                       for (BYTE b : *bytes) {
                         if (b == '\n') {
                           r.out_ << "    | " << row << "\\n\n";
                           row.clear();
                         } else if (b == '\r') {
                           row += "\\r";
                         } else if (b < 0x20 || b >= 0x7F) {
                           char hex[8];
                           std::snprintf(hex, sizeof hex, "\\x%02x", b);
                           row += hex;
                         } else {
                           row += static_cast<char>(b);
                         }
                       }
                       if (!row.empty()) r.out_ << "    | " << row << "\n";
                     }});

    verbs.push_back({"file get", "file get DEVICE-PATH to HOST-FILE", [](Runner& r, const Line& line) {
                       if (line.words.size() != 5 || Lower(line.words[3]) != "to") {
                         r.Fail(line, "usage: file get DEVICE-PATH to HOST-FILE");
                       }
                       const auto bytes = r.device_.kernel().GetFile(sim::Utf16(line.words[2]));
                       if (!bytes) r.Fail(line, "there is no file \"" + line.words[2] + "\"");
                       const auto path = r.Resolve(line, line.words[4]);
                       std::ofstream output(path, std::ios::binary);
                       output.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
                       if (!output) r.Fail(line, "cannot write \"" + path.string() + "\"");
                       r.out_ << "    " << bytes->size() << " bytes written to " << path.string() << "\n";
                     }});

    verbs.push_back({"launch", "launch 2002|2003 COMMAND-LINE", [](Runner& r, const Line& line) {
                       Need(r, line, 3, 3, "launch 2002|2003 COMMAND-LINE");
                       if (line.words[1] != "2002" && line.words[1] != "2003") {
                         r.Fail(line, "usage: launch 2002|2003 COMMAND-LINE");
                       }
                       const std::u16string path =
                           line.words[1] == "2002" ? std::u16string(kLauncherPath) : u"\\Program Files\\Quorvix2003\\stv.exe";
                       InstallLauncher(r.device_.kernel(), path, line.words[1] == "2002" ? kStrevel2002 : kStrevel2003);
                       r.device_.kernel().StartProgram(path, sim::Utf16(line.words[2]));
                     }});

    verbs.push_back({"shell open", "shell open LINK-OR-FILE", [](Runner& r, const Line& line) {
                       Need(r, line, 3, 3, "shell open LINK-OR-FILE");
                       ShellOpen(r, line, sim::Utf16(line.words[2]));
                     }});

    verbs.push_back({"fail", "fail CALL [NTH [TIMES [ERROR]]]", [](Runner& r, const Line& line) {
                       Need(r, line, 2, 5, "fail CALL [NTH [TIMES [ERROR]]]");
                       const auto call = sim::CallFromName(line.words[1]);
                       if (!call) r.Fail(line, "there is no service call \"" + line.words[1] + "\"");
                       sim::Fault fault{*call};
                       long long values[3] = {1, 1, ERROR_ACCESS_DENIED};
                       for (std::size_t i = 2; i < line.words.size(); ++i) {
                         const auto n = Number(line.words[i]);
                         if (!n || *n < 0 || *n > 0x7FFFFFFF) r.Fail(line, "usage: fail CALL [NTH [TIMES [ERROR]]]");
                         values[i - 2] = *n;
                       }
                       fault.nth = static_cast<std::size_t>(values[0]);
                       fault.times = static_cast<std::size_t>(values[1]);
                       fault.error = static_cast<LONG>(values[2]);
                       r.device_.ledger().Plan(fault);
                       r.device_.kernel().Note(line.words[1] + " call " + std::to_string(values[0]) + " from now on fails" +
                                               (values[1] == 0 ? " every time after" : values[1] == 1 ? "" : " " + std::to_string(values[1]) + " times") +
                                               " with error " + std::to_string(values[2]));
                     }});

    verbs.push_back({"calls", "calls", [](Runner& r, const Line& line) {
                       Need(r, line, 1, 1, "calls");
                       for (std::size_t i = 0; i < sim::kCallCount; ++i) {
                         const auto call = static_cast<sim::Call>(i);
                         if (const std::size_t n = r.device_.ledger().Count(call)) {
                           r.out_ << "    " << sim::CallName(call) << " " << n << "\n";
                         }
                       }
                     }});

    verbs.push_back({"expect", "expect [no] value KEY NAME [DATA] | [no] key KEY | [no] process IMAGE | [no] window WINDOW",
                     [](Runner& r, const Line& line) { Expect(r, line); }});
    return verbs;
  }

  static void Expect(Runner& r, const Line& line) {
    std::vector<std::string> words(line.words.begin() + 1, line.words.end());
    const bool negated = !words.empty() && Lower(words[0]) == "no";
    if (negated) words.erase(words.begin());
    const std::string usage =
        "usage: expect [no] value KEY NAME [DATA] | text KEY NAME TEXT | [no] key KEY | [no] process IMAGE | "
        "[no] window WINDOW";
    if (words.empty()) r.Fail(line, usage);
    const std::string what = Lower(words[0]);
    bool holds = false;
    std::string actual;
    if (what == "value" && (words.size() == 3 || words.size() == 4)) {
      std::u16string path;
      const HKEY root = r.RootOf(line, words[1], &path);
      const auto value = r.device_.registry().GetValue(root, path, sim::Utf16(words[2]));
      if (value) actual = sim::RegValueDataText(value->type, value->data);
      std::string expected = words.size() == 4 ? words[3] : std::string();
      if (words.size() == 4 && line.quoted[line.quoted.size() - 1]) {
        // A quoted word is a string: compare as the string value it names.
        expected = sim::RegValueDataText(REG_SZ, sim::StringBytes(sim::Utf16(expected)));
      }
      holds = value.has_value() && (words.size() == 3 || actual == expected);
      if (negated && words.size() == 4) r.Fail(line, "\"expect no value\" takes no data");
    } else if (what == "text" && words.size() == 4 && !negated) {
      // The text of a string value up to its terminator, whatever zero bytes
      // pad the value after it.
      std::u16string path;
      const HKEY root = r.RootOf(line, words[1], &path);
      const auto value = r.device_.registry().GetValue(root, path, sim::Utf16(words[2]));
      if (value && (value->type == REG_SZ || value->type == REG_EXPAND_SZ)) {
        const std::u16string text = sim::StringText(value->data);
        actual = "\"" + sim::Utf8(text) + "\"";
        holds = sim::Utf8(text) == words[3];
      } else if (value) {
        actual = sim::RegValueDataText(value->type, value->data);
      }
    } else if (what == "key" && words.size() == 2) {
      std::u16string path;
      const HKEY root = r.RootOf(line, words[1], &path);
      holds = r.device_.registry().KeyExists(root, path);
    } else if (what == "process" && words.size() == 2) {
      for (const auto& process : r.device_.kernel().Processes()) {
        holds = holds || sim::Utf8(process.image) == words[1];
      }
    } else if (what == "window" && words.size() == 2) {
      try {
        Line probe = line;
        r.WindowNamed(probe, words[1]);
        holds = true;
      } catch (const ScenarioError&) {
        holds = false;
      }
    } else {
      r.Fail(line, usage);
    }
    if (holds == negated) {
      r.failed_ = true;
      std::string message = line.file.string() + ":" + std::to_string(line.number) + ": expectation failed: " +
                            line.text.substr(line.text.find_first_not_of(" \t"));
      if (!actual.empty()) message += " (found " + actual + ")";
      r.out_ << "    " << message << "\n";
      std::cerr << message << "\n";
    } else {
      r.out_ << "    ok\n";
    }
  }
};

const std::vector<Runner::Verb>& Runner::Verbs() {
  static const std::vector<Verb> verbs = VerbTable::Make();
  return verbs;
}

}  // namespace qx::qxsim
