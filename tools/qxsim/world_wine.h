// The Wine world: a scenario's steps realised on the Windows builds under
// Wine, with the means the end-to-end tests have (the stand-ins for the
// device's own programs, the agent inside the prefix for windows, dialogs,
// menus, messages and the registry, the stand-in dial-up library) and the
// observed platform inside the programs (their trace, call counts, faults,
// kill and timers, shared with the runner through a file). Each step ends
// when the programs are idle; what it printed, the effects its programs
// caused and the registry values it changed come out worded as the
// simulated device words them, so that the two worlds compare line by line.
#pragma once

#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/qxsim/registry_lines.h"
#include "tools/qxsim/scenario.h"
#include "tools/qxsim/wine_session.h"
#include "tools/qxsim/world_link.h"
#include "tools/qxsim/world_trace.h"

namespace qx::qxsim {

// A top-level window as the agent lists it.
struct WineWindow {
  std::string hwnd;  // the agent's hex handle
  DWORD processId = 0;
  std::u16string image;  // the device's path of its program, or empty
  std::u16string className;
  std::u16string title;
  RECT rect{};
  bool visible = false;
  bool enabled = true;
  bool topmost = false;
  std::string owner;
  bool foreground = false;
};

class WineWorld {
 public:
  // What one step did on Wine.
  struct Step {
    std::string output;  // what the step printed itself
    std::vector<sim::Effect> effects;
    std::vector<RegistryLine> registry;
    std::optional<bool> held;  // an expectation: whether it held
    std::string notCompared;   // why this step cannot be compared here, if it cannot
    bool traced = false;
  };

  // A fresh prefix cloned from the template, with the observed builds of
  // the programs where the handheld keeps them, and the device booted.
  WineWorld(const std::filesystem::path& templatePrefix, const std::filesystem::path& prefixDir);
  ~WineWorld();
  WineWorld(const WineWorld&) = delete;
  WineWorld& operator=(const WineWorld&) = delete;

  // Runs one step; a line that cannot run throws ScenarioError as the
  // simulated device's runner words it.
  Step Run(const Line& line);
  // After an abrupt end: whether a program was ended by `kill after`.
  [[nodiscard]] bool Killed() const { return killed_; }
  [[nodiscard]] const std::string& WineVersion() const { return session_.WineVersion(); }

  // ---- For the verbs (world_wine_verbs.cpp, world_wine_expect.cpp)
  [[noreturn]] void Fail(const Line& line, const std::string& message) const;
  WineSession::Response Ask(const Line& line, const std::vector<std::string>& request, int timeoutMs = 10000);
  std::vector<WineWindow> Windows(const Line& line);
  std::vector<sim::WindowInfo> Controls(const Line& line, const std::string& hwnd);
  // The window a scenario names, as the simulated device's runner names it.
  std::optional<WineWindow> WindowNamed(const Line& line, const std::string& name, std::string* ambiguous);
  std::optional<WineWindow> TrayWindow(const Line& line, std::size_t index = 0);
  // The dialog or message box in front, if any.
  std::optional<WineWindow> FrontDialog(const Line& line, bool* messageBox);
  // A key with its values and sub-keys as the registry holds it now.
  std::optional<sim::RegistryImage::Key> Key(const Line& line, HKEY root, std::u16string_view path, bool recursive);
  void Watch(HKEY root, std::u16string_view path);
  // Waits until the programs are idle and their trace is still.
  void Settle(const Line& line);
  // Starts a program of the device (observed when it is one of ours).
  DWORD StartProgram(const Line& line, std::u16string_view devicePath, std::u16string_view arguments);
  std::filesystem::path HostPath(std::u16string_view devicePath) const;
  void Reset(const Line& line);
  void Advance(const Line& line, DWORD ms);
  // A line of the world's own among the step's effects, after what the
  // programs have traced so far.
  void Note(std::string text, std::string program = {});
  // The verb of the line (world_wine_verbs.cpp); expectations set
  // step.held (world_wine_expect.cpp).
  void RunVerb(const Line& line, Step& step);
  void Expect(const Line& line, Step& step);

  std::ostringstream out;  // what the running step prints itself
  bool tracing = false;
  std::deque<int> queuedAnswers;
  std::vector<sim::Effect> lastEffects;  // of the last step other than an expectation
  std::vector<TraceRecord> sinceReset;   // every record since the device last came up
  std::vector<TraceRecord> all;          // every record of the story
  std::map<std::string, std::string> sends;  // pending sends: token -> message number
  // The installer's hooks: its process from now on, and what each hook
  // returned once it has (the driver's marker files).
  void SetInstaller(DWORD processId) { installer_ = processId; }
  std::optional<int> HookResult(const Line& line, const char* which, bool wait);
  WorldNames names;
  std::unique_ptr<WorldLinkFile> link;
  std::size_t killAfter = 0;

 private:
  void Boot(const Line& line);
  std::vector<TraceRecord> TakeRecords();
  sim::RegistryImage WatchedImage(const Line& line);

  WineSession session_;
  std::filesystem::path trace_;
  std::size_t traceOffset_ = 0;
  std::vector<sim::Effect> stepEffects_;  // in the order they came
  DWORD installer_ = 0;                   // the installer driver's process, while it runs
  std::set<std::pair<HKEY, std::u16string>> watched_;
  std::optional<sim::RegistryImage> lastImage_;
  std::size_t imageWatched_ = 0;  // keys watched when lastImage_ was read
  std::uint64_t now_ = 0;
  bool killed_ = false;
};

}  // namespace qx::qxsim
