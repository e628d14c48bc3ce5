// The text transcript: what a step caused, as the reader sees it.
#include "tools/qxsim/verbs.h"

namespace qx::qxsim {

std::string TraceLine(const sim::Effect& effect) {
  return effect.program.empty() ? effect.text : effect.program + ": " + effect.text;
}

std::vector<sim::Effect> Runner::Report(const sim::RegistryImage& before) {
  std::vector<sim::Effect> effects = device_.kernel().TakeEffects();
  // A trace names the program behind each effect; registry changes are
  // among them, in the order they happened.
  const bool tracing = device_.kernel().Tracing();
  for (const sim::Effect& effect : effects) out_ << "    " << (tracing ? TraceLine(effect) : effect.text) << "\n";
  const std::vector<std::string> changes = sim::Diff(before, device_.registry().Image());
  if (changes.empty()) return effects;
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
  return effects;
}

}  // namespace qx::qxsim
