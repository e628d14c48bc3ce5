// The situations the benchmarks measure, set up on a fresh simulated device:
// a Connection Manager with a given number of provider entries, and a tray
// client in steady state beside the browser.
#pragma once

#include <cstddef>
#include <memory>

#include "devicecontrol/device_control.h"
#include "platform/sim/sim.h"

namespace qx::bench {

// A device whose provider key holds `entries` HTTP entries (each with its
// network ids), and the launcher's device control to switch them.
class SwitchStage {
 public:
  explicit SwitchStage(std::size_t entries);
  // The gateway on and off again: every entry rewritten twice, each twin
  // created and deleted once.
  void SwitchOnAndOff();
  [[nodiscard]] sim::SimDevice& device() { return device_; }

 private:
  sim::SimDevice device_;
  CDeviceControl control_;
};

// A device running the 2002 tray client with the browser in front, advanced
// until its poll has nothing left to change.
class PollStage {
 public:
  PollStage();
  // One 200 ms poll tick.
  void Tick();
  [[nodiscard]] sim::SimDevice& device() { return *device_; }

 private:
  // The client's thread refers to the device: it must outlive every use.
  std::unique_ptr<sim::SimDevice> device_;
};

}  // namespace qx::bench
