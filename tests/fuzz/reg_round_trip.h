// The property both registry targets end with: a registry that the text
// format can carry exports to text that imports back to the same registry
// and exports to the same bytes again; one that it cannot carry is refused
// with a reason.
#pragma once

#include <cstdio>

#include "platform/sim/reg_format.h"
#include "tests/fuzz/fuzz_input.h"

namespace qx::fuzz {

inline void CheckReadsBack(const sim::RegistryImage& image) {
  if (const auto problem = sim::UnwritableName(image)) {
    QX_FUZZ_CHECK(!problem->empty());
    return;
  }
  const std::string exported = sim::ExportReg(image);
  sim::CallLedger ledger;
  sim::SimRegistry readBack(ledger);
  const auto error = sim::ImportReg(readBack, exported, "exported.reg");
  if (error) std::fprintf(stderr, "%s\n", error->ToString().c_str());
  QX_FUZZ_CHECK(!error);
  QX_FUZZ_CHECK(readBack.Image() == image);
  QX_FUZZ_CHECK(sim::ExportReg(readBack) == exported);
}

}  // namespace qx::fuzz
