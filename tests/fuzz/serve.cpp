// qxsim serve's story under any steps. Each line of the input is a request
// body for POST /steps, except that a line starting with '<' goes back (or
// forward) to the step its number names, as POST /rewind does. Host files
// are confined to a scratch directory holding the shipped .reg files;
// inputs that write host files are left out, since a file written in one
// branch of a story is read by another that never wrote it. Programs are
// stopped after a call budget. Properties: a step is kept, or refused with
// "line N: message" leaving the story as it was; going back lands where
// asked; and the story kept replays with qxsim to the transcript it showed.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/fuzz/fuzz_input.h"
#include "tools/qxsim/serve/session.h"
#include "tools/qxsim/verbs.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCallBudget = 20000;
constexpr std::size_t kMostLines = 64;

// A directory of its own for the whole run, with the shipped .reg files.
const fs::path& Scratch() {
  static const fs::path directory = [] {
    std::string pattern = (fs::temp_directory_path() / "qx-fuzz-serve-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    for (const auto& entry : fs::directory_iterator(fs::path(QX_SOURCE_DIR) / "scenarios")) {
      if (entry.path().extension() == ".reg") fs::copy_file(entry.path(), fs::path(pattern) / entry.path().filename());
    }
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(Scratch(), ignored);
    });
    return fs::path(pattern);
  }();
  return directory;
}

// `export ... to FILE` and `file get ... to FILE` write on the host.
bool WritesHostFiles(const std::vector<std::string>& words) {
  const bool writer = !words.empty() && (qx::qxsim::Lower(words[0]) == "export" || qx::qxsim::Lower(words[0]) == "file");
  for (const std::string& word : words) {
    if (writer && qx::qxsim::Lower(word) == "to") return true;
  }
  return false;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size() && lines.size() <= kMostLines) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> lines = Lines({reinterpret_cast<const char*>(data), size});
  if (lines.size() > kMostLines) return -1;
  for (const std::string& line : lines) {
    std::string error;
    if (WritesHostFiles(qx::qxsim::SplitWords(line, nullptr, &error))) return -1;
  }
  const fs::path file = Scratch() / "story.qxs";
  qx::qxsim::Session session(file, Scratch());
  session.SetCallBudget(kCallBudget);
  for (const std::string& line : lines) {
    if (line.starts_with("<")) {
      const auto to = qx::qxsim::Number(line.substr(1));
      const std::size_t step = to ? static_cast<std::size_t>(*to < 0 ? -*to : *to) % (session.lines().size() + 1) : 0;
      QX_FUZZ_CHECK(session.Rewind(step));
      QX_FUZZ_CHECK(session.position() == step);
      continue;
    }
    const std::string before = session.Scenario();
    const std::size_t number = session.position() + 1;
    std::string error;
    if (session.Step(line, &error)) {
      QX_FUZZ_CHECK(session.position() == number && session.lines().size() == number);
    } else {
      QX_FUZZ_CHECK(error.starts_with("line " + std::to_string(number) + ": "));
      QX_FUZZ_CHECK(session.Scenario() == before && session.position() == number - 1);
    }
  }
  std::ostringstream out;
  {
    qx::qxsim::Runner runner(out);
    std::ostringstream errors;
    runner.SetErrorStream(errors);
    runner.SetCallBudget(kCallBudget);
    runner.RunText(session.Scenario(), file);
  }
  std::string replayed = out.str();
  replayed.erase(0, replayed.find('\n') + 1);
  replayed.erase(std::min(replayed.rfind("End of scenario"), replayed.size()));
  QX_FUZZ_CHECK("Scenario story.qxs\n" + replayed == session.Transcript());
  return 0;
}
