// qxsim SCENARIO...: runs each scenario on a fresh simulated handheld and
// prints its transcript.
#include <iostream>

#include "tools/qxsim/scenario.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: qxsim SCENARIO...\n";
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    qx::qxsim::Runner runner(std::cout);
    if (runner.RunFile(argv[i]) != 0) status = 1;
  }
  return status;
}
