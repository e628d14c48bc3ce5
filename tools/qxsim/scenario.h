// qxsim: runs a scenario on a fresh simulated handheld and prints what each
// step caused. The language is described in the README; the verbs are in
// verbs_*.cpp, grouped by what they act on, each with its usage line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/qxsim/transcript.h"
#include "tools/qxsim/writer.h"

namespace qx::qxsim {

// A scenario line that cannot run: names the file and line.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The words of one scenario line. Quoted words keep their blanks; inside
// quotes \" stands for a quote and \\ for a backslash, any other backslash
// for itself (so Windows paths need no doubling).
struct Line {
  std::filesystem::path file;
  std::size_t number = 0;
  std::string text;
  std::vector<std::string> words;
  std::vector<bool> quoted;
};

std::vector<std::string> SplitWords(std::string_view text, std::vector<bool>* quoted, std::string* error);

// The programs qxsim puts on the device.
inline constexpr std::u16string_view kClient2002Path = u"\\Program Files\\Quorvix\\Quorvix.exe";
inline constexpr std::u16string_view kClient2003Path = u"\\Program Files\\Quorvix\\Quorvix2003.exe";

class Runner {
 public:
  // The transcript goes to out (coloured when asked); more writers can be added.
  explicit Runner(std::ostream& out, bool colour = false);
  // Also tells the story to writer, which must outlive the run.
  void AddWriter(Writer& writer) { writers_.push_back(&writer); }

  // Runs the scenario file; 0 when every step ran (and every expectation
  // held), 1 otherwise. Errors are printed as "file:line: message".
  int RunFile(const std::filesystem::path& path);
  // Runs scenario text as if it were the named file.
  int RunText(std::string_view text, const std::filesystem::path& name);

  [[nodiscard]] sim::SimDevice& device() { return device_; }

  // Programs making more platform calls than this in one run are stopped
  // as runaways (0: no bound).
  void SetCallBudget(std::size_t calls) { callBudget_ = calls; }
  // Whether each step lists the registry values it changed (the sweep,
  // which reruns a story thousands of times, needs only the effects).
  void SetRegistryChanges(bool shown) { registryChanges_ = shown; }
  // Where failed expectations are told besides the transcript.
  void SetErrorStream(std::ostream& errors) { errors_ = &errors; }
  // What the run's programs did: their calls, and whether one was ended
  // abruptly by `kill after` or stopped as a runaway.
  [[nodiscard]] std::size_t ProgramCalls() const { return programCalls_; }
  [[nodiscard]] bool Killed() const { return killed_; }
  [[nodiscard]] bool RanAway() const { return ranAway_; }

  // A scenario written as it runs (qxsim serve): runs one more line, as
  // RunText would run it as line `number` of the file `name` (the first
  // call begins the scenario). False when it cannot run, with the error as
  // "file:line: message" in *error; the device may then be part-way through
  // the line, so a caller that goes on starts again from a fresh Runner. A
  // program ended by `kill after` ends the story as in RunText: the device
  // does what it would next, and every later line is refused.
  bool RunLiveLine(std::string_view text, const std::filesystem::path& name, std::size_t number, std::string* error);
  [[nodiscard]] bool Stopped() const { return liveStopped_; }
  // From now on the host files that steps name (import, export to, file put
  // from, file get to, install's package) must lie inside `folder`, links
  // and ".." resolved; any other path stops the line before anything is
  // read or written.
  void ConfineHostFiles(const std::filesystem::path& folder);
  // The first tray window, or null: the window `tap button` and `send` reach.
  [[nodiscard]] HWND TrayWindow() { return ClientWindow(); }

 private:
  using Handler = std::function<void(Runner&, const Line&)>;
  struct Verb {
    std::string name;   // one or two words: "start client"
    std::string usage;  // shown in errors
    Handler run;
  };

  sim::CallVerdict Watch();
  // After an abrupt end: what the device does next.
  void Recover(const Line& after);
  void RunLine(const Line& line);
  // One line of a story as read from its file: its text checked, its words
  // split, its step run, and after an abrupt end the device's next steps.
  void RunStoryLine(Line& line);
  // Whether a step of this text (not a comment or a quoted word) starts
  // the 2003 client.
  static bool NamesClient2003(std::string_view text);
  void Emit(const std::function<void(Writer&)>& event);
  [[noreturn]] void Fail(const Line& line, const std::string& message) const;
  std::filesystem::path Resolve(const Line& line, const std::string& path) const;
  // Resolve's answer, once checked against ConfineHostFiles' folder.
  std::filesystem::path Confined(const Line& line, const std::filesystem::path& path) const;

  // Helpers for verbs.
  // The window a scenario names (browser, client, player, tasks, desktop or
  // a title); stops the step when there is none, or when a title fits
  // more than one.
  HWND WindowNamed(const Line& line, const std::string& name);
  // The same without stopping: null, with *ambiguous set when a title
  // fits more than one window.
  HWND FindWindowNamed(const std::string& name, std::string* ambiguous);
  HWND ClientWindow(std::size_t index = 0);
  HKEY RootOf(const Line& line, const std::string& keyPath, std::u16string* rest) const;

  static const std::vector<Verb>& Verbs();
  friend struct VerbTable;

  std::ostringstream out_;  // what the running step prints itself
  TranscriptWriter transcript_;
  std::vector<Writer*> writers_;
  std::ostream* errors_;
  sim::SimDevice device_;
  bool failed_ = false;
  // What the last step other than an expectation caused, for `expect order`.
  std::vector<sim::Effect> lastEffects_;
  bool registryChanges_ = true;
  // The registry at the end of the last step, and its generation then.
  std::optional<sim::RegistryImage> lastImage_;
  std::uint64_t lastImageGeneration_ = 0;
  bool client2003_ = false;  // the scenario runs the 2003 client
  // Each answer given while no box was open, as the error it becomes when
  // no box takes it: the device takes them oldest first.
  std::vector<std::string> queuedAnswers_;
  std::size_t programCalls_ = 0;
  std::size_t killAfter_ = 0;  // end the calling program at this call (0: never)
  std::size_t callBudget_ = 0;
  bool killed_ = false;
  bool ranAway_ = false;
  // A scenario written as it runs: begun, and stopped by an abrupt end.
  bool liveBegun_ = false;
  bool liveStopped_ = false;
  std::optional<std::filesystem::path> hostFolder_;  // canonical
};

// qxsim sweep: reruns each scenario with every platform call it makes
// failed once and failing from it on, and with its programs ended abruptly
// after each of their calls (then the device's next steps), on `jobs`
// workers. Prints one line per finding with its reproduction, then a
// summary table; 0 when nothing was found.
int Sweep(const std::vector<std::filesystem::path>& scenarios, std::ostream& out, unsigned jobs);

}  // namespace qx::qxsim
