// qxsim [--html FILE.html] SCENARIO...: runs each scenario on a fresh
// simulated handheld and prints its transcript; with --html, also writes
// the storyboard of every scenario into one page.
// qxsim sweep SCENARIO...: the fault and kill sweep over each scenario
// (QX_SWEEP_JOBS workers, by default twice the processors).
// qxsim serve [--port N] [SCENARIO]: the device live in a local browser,
// its use kept as a scenario (serve/server.h).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string_view>
#include <thread>

#include <unistd.h>

#include "tools/qxsim/scenario.h"
#include "tools/qxsim/serve/server.h"
#include "tools/qxsim/storyboard.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "sweep") {
    if (argc < 3) {
      std::cerr << "usage: qxsim sweep SCENARIO...\n";
      return 2;
    }
    // Runs spend much of their time handing the processor between a
    // device's programs: twice the processors keeps them busy.
    unsigned jobs = 2 * std::max(1u, std::thread::hardware_concurrency());
    if (const char* given = std::getenv("QX_SWEEP_JOBS")) jobs = static_cast<unsigned>(std::atoi(given));
    return qx::qxsim::Sweep({argv + 2, argv + argc}, std::cout, jobs);
  }
  if (argc > 1 && std::string_view(argv[1]) == "serve") {
    return qx::qxsim::Serve({argv + 2, argv + argc}, std::cout, std::cerr);
  }
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
    std::cerr << "usage: qxsim [--html FILE.html] SCENARIO... | qxsim sweep SCENARIO... | qxsim serve [--port N] [SCENARIO]\n";
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
