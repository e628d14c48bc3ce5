// qxsim [--html FILE.html] SCENARIO...: runs each scenario on a fresh
// simulated handheld and prints its transcript; with --html, also writes
// the storyboard of every scenario into one page.
// qxsim sweep SCENARIO...: the fault and kill sweep over each scenario
// (QX_SWEEP_JOBS workers, by default twice the processors).
// qxsim serve [--port N] [SCENARIO]: the device live in a local browser,
// its use kept as a scenario (serve/server.h).
// qxsim --world wine|both [--plant NAME] SCENARIO...: each scenario on the
// Windows builds under Wine, alone or step by step against the simulated
// device (worlds.h); the template prefix comes from tools/wine-world.sh.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string_view>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "tools/qxsim/scenario.h"
#include "tools/qxsim/serve/server.h"
#include "tools/qxsim/storyboard.h"
#include "tools/qxsim/wine_session.h"
#include "tools/qxsim/worlds.h"

namespace {

// Standard output and standard error lead to the same place (one terminal,
// or one file for both): the transcript already tells each error there.
bool SamePlace() {
  struct stat out {};
  struct stat err {};
  return fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 && out.st_dev == err.st_dev &&
         out.st_ino == err.st_ino;
}

}  // namespace

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
  if (argc > 1 && std::string_view(argv[1]) == "--world") {
    const std::string_view world = argc > 2 ? argv[2] : "";
    int first = 3;
    std::vector<std::string> plants;
    while (first + 1 < argc && std::string_view(argv[first]) == "--plant") {
      plants.emplace_back(argv[first + 1]);
      first += 2;
    }
    if ((world != "wine" && world != "both") || first >= argc) {
      std::cerr << "usage: qxsim --world wine|both [--plant NAME] SCENARIO...\n";
      return 2;
    }
    const std::filesystem::path root = QX_SOURCE_DIR;
    return qx::qxsim::RunOnWorlds({argv + first, argv + argc}, world == "both", std::cout, std::cerr,
                                  qx::qxsim::WineSession::DefaultTemplate(root), root / "build" / "wine-world" / "runs",
                                  plants);
  }
  const bool html = argc > 1 && std::strcmp(argv[1], "--html") == 0;
  const int first = html ? 3 : 1;
  // Nothing is written until there is a story to tell.
  if (first >= argc) {
    std::cerr << "usage: qxsim [--html FILE.html] SCENARIO... | qxsim sweep SCENARIO... | "
                 "qxsim serve [--port N] [SCENARIO]\n";
    return 2;
  }
  std::ofstream page;
  std::unique_ptr<qx::qxsim::StoryboardWriter> storyboard;
  if (html) {
    page.open(argv[2], std::ios::binary);
    if (!page) {
      std::cerr << "qxsim: cannot write " << argv[2] << "\n";
      return 2;
    }
    storyboard = std::make_unique<qx::qxsim::StoryboardWriter>(page);
  }
  const bool colour = qx::qxsim::ColourWanted(STDOUT_FILENO);
  // Each error once: in the transcript, and on standard error only when
  // that is somewhere else (a script reading it, a log of its own).
  std::ostringstream unseen;
  const bool once = SamePlace();
  int status = 0;
  for (int i = first; i < argc; ++i) {
    qx::qxsim::Runner runner(std::cout, colour);
    if (once) runner.SetErrorStream(unseen);
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
