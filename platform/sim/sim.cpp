#include "platform/sim/sim.h"

namespace qx::sim {

SimDevice::SimDevice()
    : registry_(ledger_),
      codePage_(ledger_),
      kernel_(ledger_),
      platform_{registry_, kernel_, kernel_, kernel_, kernel_, codePage_, kernel_} {
  kernel_.SetPlatform(&platform_);
}

SimDevice::~SimDevice() { kernel_.KillAll(); }

}  // namespace qx::sim
