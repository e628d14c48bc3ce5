// The verb table: every group of verbs, in the order the error for an
// unknown verb lists them.
#include "tools/qxsim/verbs.h"

namespace qx::qxsim {

std::vector<Runner::Verb> VerbTable::Make() {
  std::vector<Runner::Verb> verbs;
  AddDeviceVerbs(verbs);
  AddRegistryVerbs(verbs);
  AddProgramVerbs(verbs);
  AddScreenVerbs(verbs);
  AddExpectVerbs(verbs);
  return verbs;
}

}  // namespace qx::qxsim
