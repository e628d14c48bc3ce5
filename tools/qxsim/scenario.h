// qxsim: runs a scenario on a fresh simulated handheld and prints what each
// step caused. The language is described in the README; the verbs are in
// verbs_*.cpp, grouped by what they act on, each with its usage line.
#pragma once

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

 private:
  using Handler = std::function<void(Runner&, const Line&)>;
  struct Verb {
    std::string name;   // one or two words: "start client"
    std::string usage;  // shown in errors
    Handler run;
  };

  void RunLine(const Line& line);
  void Emit(const std::function<void(Writer&)>& event);
  [[noreturn]] void Fail(const Line& line, const std::string& message) const;
  std::filesystem::path Resolve(const Line& line, const std::string& path) const;

  // Helpers for verbs.
  HWND WindowNamed(const Line& line, const std::string& name);
  HWND ClientWindow(std::size_t index = 0);
  HKEY RootOf(const Line& line, const std::string& keyPath, std::u16string* rest) const;

  static const std::vector<Verb>& Verbs();
  friend struct VerbTable;

  std::ostringstream out_;  // what the running step prints itself
  TranscriptWriter transcript_;
  std::vector<Writer*> writers_;
  sim::SimDevice device_;
  bool failed_ = false;
  // What the last step other than an expectation caused, for `expect order`.
  std::vector<sim::Effect> lastEffects_;
};

}  // namespace qx::qxsim
