#include "platform/sim/ledger.h"

#include <algorithm>
#include <numeric>

namespace qx::sim {

std::optional<LONG> CallLedger::Enter(Call call) {
  if (t_callDepth > 1) return std::nullopt;  // the device's own, inside a call
  if (watcher_) {
    const CallVerdict verdict = watcher_(call);
    if (verdict.error) return verdict.error;
    if (verdict.uncounted) return std::nullopt;
  }
  ++counts_[static_cast<std::size_t>(call)];
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->fault.call != call) continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    const LONG error = it->fault.error;
    if (it->remaining != 0 && --it->remaining == 0) faults_.erase(it);
    return error;
  }
  return std::nullopt;
}

void CallLedger::Plan(Fault fault) {
  faults_.push_back({fault, fault.nth > 0 ? fault.nth - 1 : 0, fault.times});
}

std::size_t CallLedger::RegistryCount() const {
  return std::accumulate(counts_.begin(), counts_.begin() + static_cast<std::size_t>(Call::RegCloseKey) + 1,
                         std::size_t{0});
}

std::size_t CallLedger::Total() const { return std::accumulate(counts_.begin(), counts_.end(), std::size_t{0}); }

}  // namespace qx::sim
