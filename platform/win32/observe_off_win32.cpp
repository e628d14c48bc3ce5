// The shipped programs are never observed: the scenario runner's Wine world
// runs builds of the same programs linked with observe_win32.cpp instead,
// so no test hook and none of its bytes reach the device.
#include "platform/win32/win32_internal.h"

namespace qx::win32 {

std::unique_ptr<Observation> ObserveFromEnvironment(Platform&) { return nullptr; }

}  // namespace qx::win32
