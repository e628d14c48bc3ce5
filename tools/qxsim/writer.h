// What the runner tells the readers of a scenario, one call per event: the
// text transcript on the terminal and the storyboard page are two writers
// of the same story.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/qxsim/registry_lines.h"

namespace qx::qxsim {

// One step as it ran.
struct StepRecord {
  std::string file;     // the scenario's file name, without its folder
  std::size_t line = 0;
  DWORD time = 0;       // virtual time when the step began, in ms
  std::string command;  // the line as written, without leading blanks
  std::string output;   // what the step printed itself: listings, results, checks
  std::vector<sim::Effect> effects;
  bool traced = false;  // the effects are shown with the program that caused each
  std::vector<RegistryLine> registry;
};

class Writer {
 public:
  virtual ~Writer() = default;
  virtual void BeginScenario(const std::string& name) = 0;
  // A note line: the story told to the reader.
  virtual void Note(const std::string& text) = 0;
  // Called after the step, with the device's kernel as the step left it.
  virtual void Step(const StepRecord& step, const sim::Kernel& kernel) = 0;
  // A line that could not run, or an expectation that failed: "file:line: message".
  virtual void Problem(const std::string& message) = 0;
  virtual void EndScenario(const std::string& summary) = 0;
};

// Virtual time as the transcript shows it: "12.400s".
std::string Seconds(DWORD ms);

// An effect as a trace shows it: "Quorvix.exe: set [...] ...", or the text
// alone for the world's own.
std::string TraceLine(const sim::Effect& effect);

}  // namespace qx::qxsim
