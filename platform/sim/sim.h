// The simulated handheld: registry, windows, processes, dial-up, files, code
// pages and power behind the platform services, a virtual clock, and the
// world around the programs. Every test and the scenario runner use it.
//
// Time passes only when the world advances it, programs run only when the
// world gives them input, and every step is logged: a run with the same
// inputs gives the same result.
#pragma once

#include "platform/platform.h"
#include "platform/sim/codepage.h"
#include "platform/sim/kernel.h"
#include "platform/sim/ledger.h"
#include "platform/sim/reg_format.h"
#include "platform/sim/registry.h"
#include "platform/sim/text.h"

namespace qx::sim {

class SimDevice {
 public:
  SimDevice();
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;
  // Ends every program still running, without their clean-up, as pulling
  // the battery would.
  ~SimDevice();

  [[nodiscard]] Platform& platform() { return platform_; }
  [[nodiscard]] CallLedger& ledger() { return ledger_; }
  [[nodiscard]] SimRegistry& registry() { return registry_; }
  [[nodiscard]] Kernel& kernel() { return kernel_; }
  [[nodiscard]] SimCodePage& codePage() { return codePage_; }

  // Handles that programs opened and did not close.
  [[nodiscard]] std::size_t OpenHandles() const {
    return registry_.OpenHandleCount() + kernel_.OpenKernelHandles();
  }

 private:
  CallLedger ledger_;
  SimRegistry registry_;
  SimCodePage codePage_;
  Kernel kernel_;
  Platform platform_;
};

}  // namespace qx::sim
