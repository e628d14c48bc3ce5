// The text transcript: each step's line, what it printed and caused, and the
// registry values it changed, as qxsim prints it on the terminal.
#pragma once

#include <ostream>

#include "tools/qxsim/writer.h"

namespace qx::qxsim {

class TranscriptWriter : public Writer {
 public:
  // With colour, registry additions, changes and removals are marked with
  // terminal colours (green, yellow, red).
  explicit TranscriptWriter(std::ostream& out, bool colour = false) : out_(out), colour_(colour) {}

  void BeginScenario(const std::string& name) override;
  void Note(const std::string& text) override;
  void Step(const StepRecord& step, const sim::Kernel& kernel) override;
  void Problem(const std::string& message) override;
  void EndScenario(const std::string& summary) override;

 private:
  std::ostream& out_;
  bool colour_;
  bool inNote_ = false;
};

// Whether a terminal should get colours: it is one, and NO_COLOR is not set.
bool ColourWanted(int fd);

}  // namespace qx::qxsim
