// The storyboard: one self-contained HTML page that tells a scenario as a
// sequence of frames, each with the step's line, what it caused, the
// registry values it changed and a picture of the handheld's screen after
// it. The page needs no network and no script; a frame's number links to
// the frame shown on its own.
#pragma once

#include <ostream>
#include <set>
#include <string>

#include "tools/qxsim/writer.h"

namespace qx::qxsim {

class StoryboardWriter : public Writer {
 public:
  // Writes the page's head at once and its end when destroyed.
  explicit StoryboardWriter(std::ostream& out);
  ~StoryboardWriter() override;
  StoryboardWriter(const StoryboardWriter&) = delete;
  StoryboardWriter& operator=(const StoryboardWriter&) = delete;

  void BeginScenario(const std::string& name) override;
  void Note(const std::string& text) override;
  void Step(const StepRecord& step, const sim::Kernel& kernel) override;
  void Problem(const std::string& message) override;
  void EndScenario(const std::string& summary) override;

 private:
  void FlushNotes();
  // An element id not yet used on the page: wanted, or wanted with "-2",
  // "-3"... when two scenarios or frames would share it.
  std::string UniqueId(const std::string& wanted);

  std::ostream& out_;
  std::set<std::string> ids_;
  std::string scenarioId_;
  std::string notes_;
  std::string lastScreen_;
};

}  // namespace qx::qxsim
