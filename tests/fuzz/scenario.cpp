// qxsim's reading and running of any scenario text. Files the scenario names
// are reached only inside a scratch directory, which holds the .reg files of
// the shipped scenarios and the end-to-end cases afresh for every input; lines naming a host path that could lead
// out of it make the input uninteresting. Programs are stopped after a call
// budget, so no input runs for long. Properties: the run ends with 0 or 1;
// a failing run tells standard error "file:line: message" with a line of
// the input (or an expectation that did not hold); and running the same
// text again gives the same transcript.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "tests/fuzz/fuzz_input.h"
#include "tools/qxsim/scenario.h"

namespace {

namespace fs = std::filesystem;

// Enough for every shipped scenario several times over.
constexpr std::size_t kCallBudget = 20000;

// A directory of its own for the run, removed when the run ends, and the
// .reg files it is filled with before each input.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "qx-fuzz-scenario-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    directory = pattern;
    // The shipped scenarios' files and the end-to-end cases' own.
    for (const fs::path& from : {fs::path(QX_SOURCE_DIR) / "scenarios", fs::path(QX_SOURCE_DIR) / "tests/e2e/cases"}) {
      for (const auto& entry : fs::directory_iterator(from)) {
        if (entry.path().extension() != ".reg") continue;
        std::ifstream file(entry.path(), std::ios::binary);
        regFiles[entry.path().filename().string()].assign(std::istreambuf_iterator<char>(file), {});
      }
    }
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(directory, ignored);
  }

  fs::path directory;
  std::map<std::string, std::string> regFiles;  // file name and contents
};

const Scratch& TheScratch() {
  static const Scratch scratch;
  return scratch;
}

// Puts the scratch directory back as it was: the .reg files, nothing else.
void Refill(const Scratch& scratch) {
  for (const auto& entry : fs::directory_iterator(scratch.directory)) fs::remove_all(entry.path());
  for (const auto& [name, text] : scratch.regFiles) std::ofstream(scratch.directory / name, std::ios::binary) << text;
}

// A word that names a host path outside the scratch directory: absolute, or
// climbing out of it.
bool LeadsOut(const std::string& word) { return word.starts_with('/') || word.find("..") != std::string::npos; }

bool StaysInScratch(std::string_view text) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    std::vector<bool> quoted;
    std::string error;
    for (const std::string& word : qx::qxsim::SplitWords(text.substr(start, end - start), &quoted, &error)) {
      if (LeadsOut(word)) return false;
    }
    start = end + 1;
  }
  return true;
}

struct Outcome {
  int status = 0;
  std::string transcript;
  std::string errors;
};

Outcome Run(const Scratch& scratch, std::string_view text) {
  Refill(scratch);
  Outcome outcome;
  std::ostringstream transcript;
  std::ostringstream errors;
  qx::qxsim::Runner runner(transcript);
  runner.SetErrorStream(errors);
  runner.SetCallBudget(kCallBudget);
  outcome.status = runner.RunText(text, scratch.directory / "fuzz.qxs");
  outcome.transcript = transcript.str();
  outcome.errors = errors.str();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!StaysInScratch(text)) return -1;
  const Scratch& scratch = TheScratch();
  const Outcome first = Run(scratch, text);
  QX_FUZZ_CHECK(first.status == 0 || first.status == 1);
  if (first.status == 1) {
    const std::string where = (scratch.directory / "fuzz.qxs").string() + ":";
    QX_FUZZ_CHECK(first.errors.find(where) != std::string::npos);
  }
  // The same scenario always gives the same transcript.
  const Outcome second = Run(scratch, text);
  QX_FUZZ_CHECK(second.status == first.status);
  QX_FUZZ_CHECK(second.transcript == first.transcript);
  return 0;
}
