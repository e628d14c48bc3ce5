// qxsim --world wine|both: scenarios told on the Windows builds under Wine
// (world_wine.h), alone or compared step by step with the simulated device.
#pragma once

#include <filesystem>
#include <ostream>
#include <vector>

namespace qx::qxsim {

// Runs each scenario on Wine (compare: and on the simulated device, step
// by step); prints the transcript (compare: the simulated device's, each
// step followed by Wine's verdict), and with compare a last line
// "worlds agree: N steps compared, K not compared, D differ". 0 when every
// step ran on Wine, every expectation held (on each world) and, with
// compare, the worlds agreed.
// `plants` names faults to plant on purpose (registry-case, box-end,
// unterminated-strings), for the tests that show the comparison finds them.
int RunOnWorlds(const std::vector<std::filesystem::path>& scenarios, bool compare, std::ostream& out,
                std::ostream& errors, const std::filesystem::path& templatePrefix,
                const std::filesystem::path& workDir, const std::vector<std::string>& plants = {});

}  // namespace qx::qxsim
