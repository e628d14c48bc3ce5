// Marks out the work whose instructions bench/count-instructions.sh counts
// under callgrind, for machines without hardware counters: each section is
// zeroed before and dumped after, so a dump holds that section alone (every
// thread included). Outside valgrind the marks do nothing.
//
// Each section is dumped as "LABEL UNITS": the script divides by UNITS.
#include <valgrind/callgrind.h>

#include <cstddef>
#include <string>

#include "bench/stages.h"

namespace {

void Dump(const std::string& label) { CALLGRIND_DUMP_STATS_AT(label.c_str()); }

}  // namespace

int main() {
  constexpr int kSwitches = 4;
  for (std::size_t entries : {1, 4, 16, 64, 256}) {
    qx::bench::SwitchStage stage(entries);
    stage.SwitchOnAndOff();  // settle the registry's own storage
    CALLGRIND_ZERO_STATS;
    for (int i = 0; i < kSwitches; ++i) stage.SwitchOnAndOff();
    Dump("switch/" + std::to_string(entries) + " " + std::to_string(entries * kSwitches));
  }
  constexpr int kTicks = 50;
  qx::bench::PollStage poll;
  CALLGRIND_ZERO_STATS;
  for (int i = 0; i < kTicks; ++i) poll.Tick();
  Dump("poll/steady-tick " + std::to_string(kTicks));
  return 0;
}
