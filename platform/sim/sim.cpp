#include "platform/sim/sim.h"

namespace qx::sim {

SimDevice::SimDevice()
    : registry_(ledger_),
      codePage_(ledger_),
      kernel_(ledger_),
      platform_{registry_, kernel_, kernel_, kernel_, kernel_, codePage_, kernel_} {
  kernel_.SetPlatform(&platform_);
  codePage_.SetErrorSink([this](DWORD error) { kernel_.SetLastError(error); });
  registry_.SetChangeObserver([this](const std::string& line) { kernel_.RegistryChanged(line); });
}

SimDevice::~SimDevice() { kernel_.KillAll(); }

}  // namespace qx::sim
