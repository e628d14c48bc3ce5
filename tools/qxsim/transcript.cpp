#include "tools/qxsim/transcript.h"

#include <cstdlib>

#include <unistd.h>

namespace qx::qxsim {

namespace {

const char* ColourOf(RegistryLine::Kind kind) {
  switch (kind) {
    case RegistryLine::Kind::Added: return "\x1b[32m";
    case RegistryLine::Kind::Changed: return "\x1b[33m";
    case RegistryLine::Kind::Removed: return "\x1b[31m";
    default: return nullptr;
  }
}

}  // namespace

std::string TraceLine(const sim::Effect& effect) {
  return effect.program.empty() ? effect.text : effect.program + ": " + effect.text;
}

bool ColourWanted(int fd) {
  // NO_COLOR set to anything but the empty string turns colours off.
  const char* noColour = std::getenv("NO_COLOR");
  return isatty(fd) == 1 && (noColour == nullptr || noColour[0] == '\0');
}

void TranscriptWriter::BeginScenario(const std::string& name) { out_ << "Scenario " << name << "\n"; }

void TranscriptWriter::Note(const std::string& text) {
  if (!inNote_) out_ << "\n";
  out_ << "== " << text << "\n";
  inNote_ = true;
}

void TranscriptWriter::Step(const StepRecord& step, const sim::Kernel&) {
  inNote_ = false;
  out_ << "\n[" << step.file << ":" << step.line << " t=" << Seconds(step.time) << "] " << step.command << "\n"
       << step.output;
  // A trace names the program behind each effect; registry changes are
  // among them, in the order they happened.
  for (const sim::Effect& effect : step.effects) out_ << "    " << (step.traced ? TraceLine(effect) : effect.text) << "\n";
  if (step.registry.empty()) return;
  out_ << "    registry:\n";
  for (const RegistryLine& line : step.registry) {
    out_ << (line.value ? "        " : "      ");
    const char* colour = colour_ ? ColourOf(line.kind) : nullptr;
    if (colour != nullptr) {
      out_ << colour << line.text << "\x1b[0m\n";
    } else {
      out_ << line.text << "\n";
    }
  }
}

void TranscriptWriter::Problem(const std::string& message) { out_ << message << "\n"; }

void TranscriptWriter::EndScenario(const std::string& summary) { out_ << summary << "\n"; }

}  // namespace qx::qxsim
