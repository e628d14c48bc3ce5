// The Wine world's core: the prefix and its programs, what the agent tells
// of windows, controls and the registry, when a step is over, and time.
#include "tools/qxsim/world_wine.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/framework/framework.h"
#include "tools/qxsim/verbs.h"

namespace qx::qxsim {

namespace {

constexpr int kSettleMs = 10000;
// The trace is still when it has not grown for this long after the
// programs went idle.
constexpr auto kStillFor = std::chrono::milliseconds(40);

long long Integer(const std::string& text) {
  long long value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::u16string Wide(const std::string& text) { return sim::Utf16(text); }

std::string ReadAll(const std::filesystem::path& path) {
  bool ok = false;
  return ReadFile(path, &ok);
}

// The observed programs as the Windows build makes them, and where the
// handheld keeps them (the 2003 launcher comes with its package).
struct Installed {
  const char* built;   // below the template's C:\qx\observed
  const char* device;  // the handheld's path
};
constexpr Installed kObserved[] = {
    {"2002\\Quorvix.exe", "\\Program Files\\Quorvix\\Quorvix.exe"},
    {"2002\\stv.exe", "\\Program Files\\Quorvix\\stv.exe"},
    {"2003\\Quorvix2003.exe", "\\Program Files\\Quorvix\\Quorvix2003.exe"},
    {"2003\\stv.exe", "\\Program Files\\Quorvix2003\\stv.exe"},
};

}  // namespace

WineWorld::WineWorld(const std::filesystem::path& templatePrefix, const std::filesystem::path& prefixDir)
    : session_(templatePrefix, prefixDir) {
  const std::filesystem::path windows = session_.DriveC() / "windows";
  link = std::make_unique<WorldLinkFile>(windows / "qx-link.bin");
  trace_ = windows / "qx-trace.log";
  std::ofstream(trace_, std::ios::trunc).flush();
  for (const Installed& program : kObserved) {
    const std::filesystem::path to = HostPath(Wide(program.device));
    std::filesystem::create_directories(to.parent_path());
    std::string from = program.built;
    std::replace(from.begin(), from.end(), '\\', '/');
    // A fresh copy: a hard link into the template would be shared with
    // every other scenario's prefix.
    std::filesystem::copy_file(session_.DriveC() / "qx/observed" / from, to,
                               std::filesystem::copy_options::overwrite_existing);
  }
  Line boot;
  boot.file = "(boot)";
  Boot(boot);
}

WineWorld::~WineWorld() = default;

void WineWorld::Fail(const Line& line, const std::string& message) const {
  throw ScenarioError(line.file.string() + ":" + std::to_string(line.number) + ": " + message);
}

WineSession::Response WineWorld::Ask(const Line& line, const std::vector<std::string>& request, int timeoutMs) {
  WineSession::Response response = session_.Request(request, timeoutMs);
  if (!session_.Broken().empty()) Fail(line, "the Wine world stopped answering: " + session_.Broken());
  return response;
}

std::filesystem::path WineWorld::HostPath(std::u16string_view devicePath) const {
  // Device paths lead from the root of drive C:, whatever their case:
  // Wine finds a file whatever case names it, so the host path takes the
  // case of what is there.
  std::filesystem::path path = session_.DriveC();
  std::u16string rest(devicePath);
  std::replace(rest.begin(), rest.end(), u'\\', u'/');
  for (std::size_t start = 0; start < rest.size();) {
    const std::size_t slash = std::min(rest.find(u'/', start), rest.size());
    const std::string part = sim::Utf8(rest.substr(start, slash - start));
    start = slash + 1;
    if (part.empty()) continue;
    std::filesystem::path next = path / part;
    std::error_code error;
    if (!std::filesystem::exists(next, error) && std::filesystem::is_directory(path, error)) {
      for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        if (sim::NamesEqual(Wide(entry.path().filename().string()), Wide(part))) next = entry.path();
      }
    }
    path = next;
  }
  return path;
}

// ---- What the agent tells -------------------------------------------------------------------

std::vector<WineWindow> WineWorld::Windows(const Line& line) {
  std::vector<WineWindow> windows;
  for (const auto& fields : Ask(line, {"windows"}).lines) {
    if (fields.size() < 15 || fields[0] != "w") continue;
    WineWindow window;
    window.hwnd = fields[1];
    window.processId = static_cast<DWORD>(Integer(fields[2]));
    // The agent knows a process by its file; the programs the story
    // started are known by their device paths.
    const auto known = names.images.find(window.processId);
    window.image = known != names.images.end() ? known->second : names.DevicePath(Wide(fields[3]));
    window.className = Wide(fields[4]);
    window.title = Wide(fields[5]);
    window.rect = {static_cast<LONG>(Integer(fields[6])), static_cast<LONG>(Integer(fields[7])),
                   static_cast<LONG>(Integer(fields[8])), static_cast<LONG>(Integer(fields[9]))};
    window.visible = fields[10] == "1";
    window.enabled = fields[11] == "1";
    window.topmost = fields[12] == "1";
    window.owner = fields[13];
    window.foreground = fields[14] == "1";
    windows.push_back(std::move(window));
  }
  return windows;
}

std::vector<sim::WindowInfo> WineWorld::Controls(const Line& line, const std::string& hwnd) {
  std::vector<sim::WindowInfo> controls;
  for (const auto& fields : Ask(line, {"controls", hwnd}).lines) {
    if (fields.size() < 14 || fields[0] != "c") continue;
    sim::WindowInfo control;
    control.hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::stoull(fields[1], nullptr, 16)));
    control.id = static_cast<int>(Integer(fields[2]));
    control.className = Wide(fields[3]);
    // Win32's class names are upper case on the handheld's dialogs.
    for (char16_t& c : control.className) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    control.title = Wide(fields[4]);
    control.style = static_cast<LONG>(std::stoul(fields[5], nullptr, 16));
    control.checked = fields[6] == "1";
    control.enabled = fields[7] == "1";
    control.visible = fields[8] == "1";
    control.rect = {static_cast<LONG>(Integer(fields[9])), static_cast<LONG>(Integer(fields[10])),
                    static_cast<LONG>(Integer(fields[11])), static_cast<LONG>(Integer(fields[12]))};
    control.selection = static_cast<int>(Integer(fields[13]));
    for (std::size_t i = 14; i < fields.size(); ++i) control.items.push_back(Wide(fields[i]));
    controls.push_back(std::move(control));
  }
  return controls;
}

std::optional<WineWindow> WineWorld::TrayWindow(const Line& line, std::size_t index) {
  std::size_t seen = 0;
  for (const WineWindow& window : Windows(line)) {
    const bool client = window.image == kClient2002Path || window.image == kClient2003Path;
    if (client && window.className == kDialogClass && (window.title == u"  " || window.title == u"Internet Explorer")) {
      if (seen++ == index) return window;
    }
  }
  return std::nullopt;
}

std::optional<WineWindow> WineWorld::WindowNamed(const Line& line, const std::string& name, std::string* ambiguous) {
  const std::string lower = Lower(name);
  const auto find = [&](std::u16string_view className, std::u16string_view title) -> std::optional<WineWindow> {
    for (const WineWindow& window : Windows(line)) {
      if (window.className == className && window.title == title) return window;
    }
    return std::nullopt;
  };
  if (lower == "browser") return find(u"IExplore", u"Internet Explorer");
  if (lower == "client") return TrayWindow(line);
  if (lower == "player") return find(u"WMP", u"Windows Media");
  if (lower == "tasks") return find(u"WisMenuDlg", u"Tasks");
  if (lower == "desktop") return std::nullopt;
  std::optional<WineWindow> found;
  std::vector<std::string> all;
  for (const WineWindow& window : Windows(line)) {
    if (sim::Utf8(window.title) != name) continue;
    if (!found) found = window;
    all.push_back("\"" + name + "\" (" + sim::Utf8(window.className) + " of " + sim::Utf8(window.image) + ")");
  }
  if (all.size() > 1) {
    *ambiguous = "\"" + name + "\" names " + std::to_string(all.size()) + " windows:";
    for (std::size_t i = 0; i < all.size(); ++i) *ambiguous += (i == 0 ? " " : ", ") + all[i];
    *ambiguous += "; name it browser, client, player, tasks or desktop";
    return std::nullopt;
  }
  return found;
}

std::optional<WineWindow> WineWorld::FrontDialog(const Line& line, bool* messageBox) {
  for (const WineWindow& window : Windows(line)) {
    if (!window.visible) continue;
    const bool ours = window.image == kClient2002Path || window.image == kClient2003Path;
    if (window.className == u"#32770" && !window.title.empty()) {
      *messageBox = true;
      return window;
    }
    if (ours && window.className == kDialogClass && window.title != u"  " && window.title != u"Internet Explorer") {
      *messageBox = false;
      return window;
    }
  }
  return std::nullopt;
}

std::optional<sim::RegistryImage::Key> WineWorld::Key(const Line& line, HKEY root, std::u16string_view path,
                                                      bool recursive) {
  const auto response = Ask(line, {"reg-tree", sim::Utf8(sim::RootName(root)), sim::Utf8(path)});
  if (!response.ok) Fail(line, "the Wine world cannot read the registry: " + response.error);
  std::optional<sim::RegistryImage::Key> key;
  std::map<std::u16string, sim::RegistryImage::Key*> byPath;
  const auto keyAt = [&](const std::u16string& full) -> sim::RegistryImage::Key* {
    const auto it = byPath.find(sim::Utf16(sim::Utf8(full)));
    return it == byPath.end() ? nullptr : it->second;
  };
  for (const auto& fields : response.lines) {
    if (fields.empty()) continue;
    if (fields[0] == "missing") return std::nullopt;
    if (fields[0] == "k" && fields.size() >= 2) {
      const std::u16string full = Wide(fields[1]);
      if (!key) {
        key.emplace();
        key->name = full.substr(full.find_last_of(u'\\') == std::u16string::npos ? 0 : full.find_last_of(u'\\') + 1);
        byPath[full] = &*key;
        continue;
      }
      if (!recursive) {
        // A direct sub-key is named, with nothing of its own.
        const std::u16string parent = full.substr(0, full.find_last_of(u'\\'));
        if (sim::NamesEqual(parent, Wide(fields[1]).substr(0, parent.size())) && byPath.count(parent) != 0 &&
            byPath[parent] == &*key) {
          key->subKeys.push_back({full.substr(parent.size() + 1), {}, {}});
        }
        continue;
      }
      const std::u16string parent = full.substr(0, full.find_last_of(u'\\'));
      if (sim::RegistryImage::Key* above = keyAt(parent)) {
        above->subKeys.push_back({full.substr(parent.size() + 1), {}, {}});
        byPath[full] = &above->subKeys.back();
        // Pointers into the vector move as it grows: index again.
        for (auto& sub : above->subKeys) byPath[parent + u"\\" + sub.name] = &sub;
      }
    } else if (fields[0] == "v" && fields.size() >= 5) {
      if (sim::RegistryImage::Key* owner = keyAt(Wide(fields[1]))) {
        std::vector<BYTE> data;
        for (std::size_t i = 0; i + 1 < fields[4].size(); i += 2) {
          data.push_back(static_cast<BYTE>(std::stoi(fields[4].substr(i, 2), nullptr, 16)));
        }
        owner->values.push_back({Wide(fields[2]), static_cast<DWORD>(Integer(fields[3])), std::move(data)});
      }
    }
  }
  return key;
}

void WineWorld::Watch(HKEY root, std::u16string_view path) {
  if (!path.empty()) watched_.insert({root, std::u16string(path)});
}

// The registry as far as the story is concerned: the keys it imported or
// that programs wrote, with their values and those of their sub-keys that
// are watched too. Wine's own keys beside them do not show.
sim::RegistryImage WineWorld::WatchedImage(const Line& line) {
  sim::RegistryImage image;
  for (HKEY root : sim::kRegistryRoots) image.roots.push_back({std::u16string(sim::RootName(root)), {}, {}});
  for (const auto& [root, path] : watched_) {
    const std::size_t index = root == HKEY_CLASSES_ROOT ? 0 : root == HKEY_CURRENT_USER ? 1 : 2;
    const auto key = Key(line, root, path, false);
    if (!key) continue;
    // Placed at its path, each part made as needed.
    sim::RegistryImage::Key* at = &image.roots[index];
    std::u16string_view rest = path;
    while (!rest.empty()) {
      const std::size_t slash = std::min(rest.find(u'\\'), rest.size());
      const std::u16string part(rest.substr(0, slash));
      rest = slash < rest.size() ? rest.substr(slash + 1) : std::u16string_view();
      auto it = std::find_if(at->subKeys.begin(), at->subKeys.end(),
                             [&](const auto& sub) { return sim::NamesEqual(sub.name, part); });
      if (it == at->subKeys.end()) {
        at->subKeys.push_back({part, {}, {}});
        it = at->subKeys.end() - 1;
      }
      at = &*it;
    }
    at->name = key->name.empty() ? at->name : key->name;
    at->values = key->values;
  }
  return image;
}

// ---- Programs and time ------------------------------------------------------------------------

DWORD WineWorld::StartProgram(const Line& line, std::u16string_view devicePath, std::u16string_view arguments) {
  const std::string windowsPath = "C:" + sim::Utf8(devicePath);
  const std::string env = "QX_WORLD_LINK=C:\\windows\\qx-link.bin;QX_WORLD_TRACE=C:\\windows\\qx-trace.log";
  const auto response = Ask(line, {"start", windowsPath, sim::Utf8(arguments), env});
  if (!response.ok) Fail(line, "the Wine world cannot start " + windowsPath + ": " + response.error);
  DWORD pid = 0;
  for (const auto& fields : response.lines) {
    if (fields.size() >= 2 && fields[0] == "pid") pid = static_cast<DWORD>(Integer(fields[1]));
  }
  names.images[pid] = std::u16string(devicePath);
  return pid;
}

void WineWorld::Boot(const Line& line) {
  // What runs on a handheld that has just started: the Connection Manager.
  const auto response = Ask(line, {"start", "C:\\windows\\system32\\connmgr.exe", "", ""});
  if (!response.ok) Fail(line, "the Wine world cannot boot: " + response.error);
  Settle(line);
  TakeRecords();
  sinceReset.clear();
}

void WineWorld::Reset(const Line& line) {
  for (const auto& fields : Ask(line, {"processes"}).lines) {
    if (fields.size() < 3 || fields[0] != "p") continue;
    const std::string image = Lower(fields[2]);
    // Wine's own processes stay: the device's are the ones it would lose.
    if (image == "explorer.exe" || image == "services.exe" || image == "winedevice.exe" || image == "plugplay.exe" ||
        image == "svchost.exe" || image == "rpcss.exe" || image == "conhost.exe" || image == "start.exe") {
      continue;
    }
    Ask(line, {"terminate", fields[1], "0"});
    link->DropTimersOf(static_cast<std::uint32_t>(Integer(fields[1])));
  }
  Boot(line);
}

void WineWorld::Advance(const Line& line, DWORD ms) {
  // The runner's clock fires the programs' timers as it passes their due
  // times, in order, each program idle again before the next.
  const std::uint64_t target = now_ + ms;
  Settle(line);
  while (const auto due = link->NextDue(target)) {
    now_ = std::max(now_, due->due);
    link->SetNow(now_);
    link->Fired(*due);
    char hwnd[32];
    std::snprintf(hwnd, sizeof hwnd, "%llx", static_cast<unsigned long long>(due->hwnd));
    Ask(line, {"post", hwnd, std::to_string(WM_TIMER), std::to_string(due->id), "0"});
    Settle(line);
  }
  now_ = target;
  link->SetNow(now_);
  Settle(line);
}

std::vector<TraceRecord> WineWorld::TakeRecords() {
  const std::string text = ReadAll(trace_);
  std::vector<TraceRecord> records = ReadTrace(text, &traceOffset_);
  for (const TraceRecord& record : records) {
    sinceReset.push_back(record);
    all.push_back(record);
    if (record.kind == observed::Record::SoftReset) sinceReset.clear();
  }
  for (const TraceRecord& record : records) stepEffects_.push_back(EffectOf(record, names));
  return records;
}

void WineWorld::Settle(const Line& line) {
  const auto started = std::chrono::steady_clock::now();
  std::size_t size = static_cast<std::size_t>(-1);
  auto stillSince = std::chrono::steady_clock::now();
  while (true) {
    // The programs of the story (the device's stand-ins wait for nothing
    // a step does, and Wine's own processes are no program's).
    std::string pids;
    for (const auto& fields : Ask(line, {"processes"}).lines) {
      if (fields.size() < 3 || fields[0] != "p") continue;
      // The installer driver waits on files, not messages: its trace tells.
      const DWORD pid = static_cast<DWORD>(Integer(fields[1]));
      if (names.images.count(pid) != 0 && pid != installer_) pids += (pids.empty() ? "" : ",") + fields[1];
    }
    const auto idle = Ask(line, {"idle", pids, "2000"});
    bool busy = false;
    for (const auto& fields : idle.lines) busy = busy || (!fields.empty() && fields[0] == "busy");
    std::error_code error;
    const std::size_t now = std::filesystem::file_size(trace_, error);
    if (now != size) {
      size = now;
      stillSince = std::chrono::steady_clock::now();
    }
    if (!busy && std::chrono::steady_clock::now() - stillSince >= kStillFor) break;
    if (std::chrono::steady_clock::now() - started > std::chrono::milliseconds(kSettleMs)) {
      std::string running;
      for (const auto& fields : idle.lines) {
        if (fields.size() >= 2 && fields[0] == "busy") running += " " + fields[1];
      }
      Fail(line, "the step did not settle on Wine within " + std::to_string(kSettleMs / 1000) +
                     " s; still running:" + (running.empty() ? std::string(" the trace grows") : running));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  TakeRecords();
  // An answer given ahead goes to the box that opened meanwhile.
  if (!queuedAnswers.empty()) {
    bool box = false;
    const auto front = FrontDialog(line, &box);
    if (front && box) {
      const int answer = queuedAnswers.front();
      queuedAnswers.pop_front();
      Ask(line, {"answer", front->hwnd, std::to_string(answer)});
      Settle(line);
    }
  }
  // Sends that have returned, as the device notes them.
  const auto finished = Ask(line, {"sends"});
  for (const auto& fields : finished.lines) {
    if (fields.size() < 3 || fields[0] != "r") continue;
    const auto it = sends.find(fields[1]);
    if (it == sends.end()) continue;
    Note("message " + it->second + " answered " + fields[2]);
    sends.erase(it);
  }
}

void WineWorld::Note(std::string text, std::string program) {
  TakeRecords();
  stepEffects_.push_back({sim::Effect::Kind::Note, std::move(text), std::move(program)});
}

std::optional<int> WineWorld::HookResult(const Line& line, const char* which, bool wait) {
  const auto started = std::chrono::steady_clock::now();
  const std::filesystem::path marker = HostPath(u"\\windows").string() + "/qx-install-between" + which;
  do {
    bool ok = false;
    const std::string text = ReadFile(marker, &ok);
    if (ok && !text.empty()) return static_cast<int>(Integer(text));
    if (!wait) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(kSettleMs));
  Fail(line, std::string("the installer's hook never returned (") + which + ")");
}

WineWorld::Step WineWorld::Run(const Line& line) {
  Step step;
  out.str({});
  stepEffects_.clear();
  killed_ = false;
  if (!lastImage_ || imageWatched_ != watched_.size()) {
    lastImage_ = WatchedImage(line);
    imageWatched_ = watched_.size();
  }
  RunVerb(line, step);
  Settle(line);
  // A program soft-reset the device: Win32 ended only that program, the
  // device ends them all and starts again.
  const bool reset = std::any_of(stepEffects_.begin(), stepEffects_.end(), [](const sim::Effect& effect) {
    return effect.kind == sim::Effect::Kind::SoftReset && !effect.program.empty();
  });
  if (reset) {
    SetInstaller(0);
    Reset(line);
  }
  step.output = out.str();
  for (const sim::Effect& effect : stepEffects_) {
    if (effect.kind == sim::Effect::Kind::Registry) {
      // What programs write is watched from now on.
      const std::size_t open = effect.text.find('[');
      const std::size_t close = effect.text.find(']', open);
      std::u16string path = Wide(effect.text.substr(open + 1, close - open - 1));
      const auto slash = path.find(u'\\');
      if (const auto root = sim::RootFromName(path.substr(0, slash)); root && slash != std::u16string::npos) {
        Watch(*root, path.substr(slash + 1));
      }
      if (!tracing) continue;
    }
    step.effects.push_back(effect);
  }
  step.traced = tracing;
  sim::RegistryImage after = WatchedImage(line);
  if (imageWatched_ != watched_.size()) {
    // Keys first watched in this step were there before it as they are
    // now, but for what the step's programs wrote into them.
    imageWatched_ = watched_.size();
  }
  step.registry = RegistryLines(*lastImage_, after);
  lastImage_ = std::move(after);
  if (Lower(line.words[0]) != "expect") lastEffects = step.effects;
  if (link->Killed() != 0) killed_ = true;
  return step;
}

}  // namespace qx::qxsim
