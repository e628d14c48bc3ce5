// Counts every service call of the simulated device and fails chosen ones on
// demand, so tests can show what a piece of code asks of the platform and how
// it copes when the platform says no.
#pragma once

#include <array>
#include <functional>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/observed/calls.h"
#include "platform/sim/handles.h"

namespace qx::sim {

// The service calls, named as both worlds name them.
using observed::Call;
using observed::CallFromName;
using observed::CallName;
using observed::kCallCount;

// A planned failure: the nth call of a kind from now on (1 = the next one),
// repeated `times` times (0 = every call from then on), answered with `error`
// (a Win32 error code; calls that return BOOL or a handle just fail and set
// the last error to it).
struct Fault {
  Call call;
  std::size_t nth = 1;
  std::size_t times = 1;
  LONG error = ERROR_ACCESS_DENIED;
};

// What a watcher makes of a call before the ledger counts it.
struct CallVerdict {
  // Answer the call at once with this error, uncounted.
  std::optional<LONG> error;
  // Leave the call out of the counts and the planned faults: it is made
  // for the world (the scenario runner looking at the device), not by a
  // program.
  bool uncounted = false;
};

// Calls the device makes inside another call on the same thread (a message
// box's own loop taking its next message, a dialog's default processing
// sending itself a command) are the device's, not the program's: on Win32
// they happen inside the system and no program sees them. Only the
// outermost call of each stretch of program code is counted and may fail;
// the kernel marks each call with a CallScope and each call back into
// program code (a window's handler, a timer or enumeration procedure) with
// a ProgramCodeScope.
inline thread_local int t_callDepth = 0;

class CallScope {
 public:
  CallScope() { ++t_callDepth; }
  ~CallScope() { --t_callDepth; }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
};

class ProgramCodeScope {
 public:
  ProgramCodeScope() : saved_(t_callDepth) { t_callDepth = 0; }
  ~ProgramCodeScope() { t_callDepth = saved_; }
  ProgramCodeScope(const ProgramCodeScope&) = delete;
  ProgramCodeScope& operator=(const ProgramCodeScope&) = delete;

 private:
  int saved_;
};

class CallLedger {
 public:
  // Counts the call; returns the error to answer with when a fault is due.
  std::optional<LONG> Enter(Call call);

  // Sees every call before it is counted (a scenario runner uses it to end
  // a program after its nth call, to keep a dead program's calls without
  // effect, and to keep its own look-ups out of the counts).
  using Watcher = std::function<CallVerdict(Call)>;
  void SetWatcher(Watcher watcher) { watcher_ = std::move(watcher); }

  void Plan(Fault fault);
  void ClearFaults() { faults_.clear(); }

  [[nodiscard]] std::size_t Count(Call call) const { return counts_[static_cast<std::size_t>(call)]; }
  [[nodiscard]] std::size_t RegistryCount() const;
  [[nodiscard]] std::size_t Total() const;
  // A copy of the counters, to compare before and after a step.
  [[nodiscard]] std::array<std::size_t, kCallCount> Snapshot() const { return counts_; }

  // Every handle handed out and not yet closed, by the process holding it.
  [[nodiscard]] HandleAudit& handles() { return handles_; }

 private:
  struct Pending {
    Fault fault;
    std::size_t skip;       // calls of this kind still to let through
    std::size_t remaining;  // failures still to give, 0 = unbounded
  };
  std::array<std::size_t, kCallCount> counts_{};
  std::vector<Pending> faults_;
  Watcher watcher_;
  HandleAudit handles_;
};

}  // namespace qx::sim
