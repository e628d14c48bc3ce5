// A story told by using the simulated handheld: each step runs at once on a
// live device and is kept as a line of a scenario file, which qxsim replays
// to the same transcript. Any earlier step can be returned to, by replaying
// the lines up to it on a fresh device; a step taken from there drops the
// lines after it.
#pragma once

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qxsim/scenario.h"

namespace qx::qxsim {

// One line of the story as it ran.
struct SessionLine {
  std::string text;
  std::string transcript;          // what the transcript printed for it
  std::vector<std::string> notes;  // a note line's text
  // Its step as the writers were told it; after a program's abrupt end, the
  // device's own steps too. None for a note, a comment or a blank line.
  std::vector<StepRecord> steps;
};

class Session {
 public:
  // The story is the scenario file `file` (its name shows in the transcript,
  // its folder is where host paths it names start); the device touches host
  // files only inside `hostFolder`.
  Session(std::filesystem::path file, std::filesystem::path hostFolder);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs a scenario's text as the story's first lines. False, with the
  // runner's "file:line: message", when a line cannot run.
  bool Open(std::string_view text, std::string* error);
  // Runs one more line after the current step and keeps it, dropping the
  // lines after the current step. A line that cannot run is not kept and
  // changes nothing: false, with "line N: message" in *error.
  bool Step(std::string_view line, std::string* error);
  // Back (or forward again, while no new step has dropped them) to the
  // state after line `to`; 0 is the fresh device. False past the last line.
  bool Rewind(std::size_t to);

  // The lines up to the current step, as a scenario file.
  [[nodiscard]] std::string Scenario() const;
  // The transcript of the lines up to the current step, as qxsim prints it
  // for the file, without its closing line.
  [[nodiscard]] std::string Transcript() const;
  // Every line kept, also those after the current step.
  [[nodiscard]] const std::vector<SessionLine>& lines() const { return lines_; }
  // How many lines the device has run: the current step's number.
  [[nodiscard]] std::size_t position() const { return position_; }
  // A program was ended abruptly: the story takes no more steps from here.
  [[nodiscard]] bool Stopped() const;
  [[nodiscard]] std::string Name() const { return file_.filename().string(); }

  // Programs making more platform calls than this in the story are stopped
  // as runaways, as Runner::SetCallBudget stops them (0: no bound).
  void SetCallBudget(std::size_t calls);

  // The live device, as the current step left it.
  [[nodiscard]] Runner& runner();
  [[nodiscard]] const sim::Kernel& kernel();

 private:
  struct Live;
  // Runs `text` as line `number` of the live device; its record in *line.
  bool RunLine(std::string_view text, std::size_t number, SessionLine* line, std::string* error);
  // A fresh device that has run the first `count` kept lines. A line that no
  // longer runs (a host file changed since) ends the story before it.
  void Replay(std::size_t count);

  std::filesystem::path file_;
  std::filesystem::path hostFolder_;
  std::vector<SessionLine> lines_;
  std::size_t position_ = 0;
  std::size_t callBudget_ = 0;
  std::unique_ptr<Live> live_;
};

// The first lines of a story on a fresh Pocket PC 2002 device: the shipped
// device files imported, as the road begins (they lie beside the file).
std::string FreshDeviceOpening();

}  // namespace qx::qxsim
