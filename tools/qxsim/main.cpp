// qxsim [--html FILE.html] SCENARIO...: runs each scenario on a fresh
// simulated handheld and prints its transcript; with --html, also writes
// the storyboard of every scenario into one page.
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include <unistd.h>

#include "tools/qxsim/scenario.h"
#include "tools/qxsim/storyboard.h"

int main(int argc, char** argv) {
  int first = 1;
  std::ofstream page;
  std::unique_ptr<qx::qxsim::StoryboardWriter> storyboard;
  if (argc > 2 && std::strcmp(argv[1], "--html") == 0) {
    page.open(argv[2], std::ios::binary);
    if (!page) {
      std::cerr << "qxsim: cannot write " << argv[2] << "\n";
      return 2;
    }
    storyboard = std::make_unique<qx::qxsim::StoryboardWriter>(page);
    first = 3;
  }
  if (first >= argc) {
    std::cerr << "usage: qxsim [--html FILE.html] SCENARIO...\n";
    return 2;
  }
  const bool colour = qx::qxsim::ColourWanted(STDOUT_FILENO);
  int status = 0;
  for (int i = first; i < argc; ++i) {
    qx::qxsim::Runner runner(std::cout, colour);
    if (storyboard) runner.AddWriter(*storyboard);
    if (runner.RunFile(argv[i]) != 0) status = 1;
  }
  storyboard.reset();  // the page's end
  if (page.is_open() && !page.flush()) {
    std::cerr << "qxsim: cannot write " << argv[2] << "\n";
    return 1;
  }
  return status;
}
