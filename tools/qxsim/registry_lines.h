// The registry changes of a step, as people read them: values in the
// readable notation of sim::RegValueReadableText ("text" (260 bytes,
// zero-padded) where a .reg file has hex(1): bytes). Exported files keep the
// exact .reg form.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/registry.h"

namespace qx::qxsim {

// A changed value's old data as RegValueReadableText shows it, with the long parts
// it shares with the new data (at its start or end) left out as "…".
std::string ReadableWas(const sim::RegValue& was, const sim::RegValue& now);

struct RegistryLine {
  enum class Kind { Key, Added, Changed, Removed } kind;
  bool value = false;  // a value's line (shown under its key) or a key's
  std::string text;    // with its mark: "+ [KEY]", "~ \"Name\" = … (was …)", "[KEY]"
};

// The step's changes with each key's path shown once: a key line ("+ [KEY]"
// created, "- [KEY]" deleted, "[KEY]" changed in place), then its values.
std::vector<RegistryLine> RegistryLines(const sim::RegistryImage& before, const sim::RegistryImage& after);

}  // namespace qx::qxsim
