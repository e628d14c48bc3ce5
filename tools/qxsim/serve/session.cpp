#include "tools/qxsim/serve/session.h"

#include <algorithm>

#include "tools/qxsim/serve/wire.h"

namespace qx::qxsim {

namespace {

// Keeps what the writers are told of the line being run.
class Capture : public Writer {
 public:
  SessionLine* line = nullptr;

  void BeginScenario(const std::string&) override {}
  void Note(const std::string& text) override {
    if (line != nullptr) line->notes.push_back(text);
  }
  void Step(const StepRecord& step, const sim::Kernel&) override {
    if (line != nullptr) line->steps.push_back(step);
  }
  void Problem(const std::string&) override {}
  void EndScenario(const std::string&) override {}
};

}  // namespace

struct Session::Live {
  explicit Live(const std::filesystem::path& hostFolder) {
    runner.AddWriter(capture);
    runner.SetErrorStream(errors);
    runner.ConfineHostFiles(hostFolder);
  }

  std::ostringstream transcript;
  std::ostringstream errors;  // failed expectations are in the transcript already
  Capture capture;
  Runner runner{transcript};  // last: it goes first, while what it writes to is still there
};

Session::Session(std::filesystem::path file, std::filesystem::path hostFolder)
    : file_(std::filesystem::absolute(file)),
      hostFolder_(std::move(hostFolder)),
      live_(std::make_unique<Live>(hostFolder_)) {}

Session::~Session() = default;

Runner& Session::runner() { return live_->runner; }

const sim::Kernel& Session::kernel() { return live_->runner.device().kernel(); }

bool Session::Stopped() const { return live_->runner.Stopped(); }

void Session::SetCallBudget(std::size_t calls) {
  callBudget_ = calls;
  live_->runner.SetCallBudget(calls);
}

bool Session::RunLine(std::string_view text, std::size_t number, SessionLine* line, std::string* error) {
  live_->capture.line = line;
  const bool ran = live_->runner.RunLiveLine(text, file_, number, error);
  live_->capture.line = nullptr;
  std::string printed = live_->transcript.str();
  live_->transcript.str({});
  live_->errors.str({});
  // The scenario's heading comes out with its first line; Transcript()
  // gives it with the story's own name.
  const std::string heading = "Scenario " + file_.string() + "\n";
  if (printed.starts_with(heading)) printed.erase(0, heading.size());
  if (line != nullptr) line->transcript = std::move(printed);
  return ran;
}

bool Session::Open(std::string_view text, std::string* error) {
  // Split as RunText splits a file: a byte order mark first, then CR LF, LF
  // or CR line ends; the line end that closes the file opens no line.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::size_t start = 0;
  while (start < text.size() && !Stopped()) {
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    SessionLine line{std::string(text.substr(start, end - start)), {}, {}, {}};
    if (!RunLine(line.text, position_ + 1, &line, error)) return false;
    lines_.push_back(std::move(line));
    ++position_;
    start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
  }
  return true;
}

bool Session::Step(std::string_view text, std::string* error) {
  const std::size_t number = position_ + 1;
  const auto refuse = [&](std::string_view message) {
    *error = "line " + std::to_string(number) + ": " + std::string(message);
    return false;
  };
  if (text.ends_with("\n")) text.remove_suffix(text.ends_with("\r\n") ? 2 : 1);
  if (text.find_first_of("\r\n") != std::string_view::npos) return refuse("a step is one line");
  if (!ValidUtf8(text)) return refuse("a step is UTF-8 text");
  if (text.find_first_not_of(" \t") == std::string_view::npos) return refuse("a step is empty");
  SessionLine line{std::string(text), {}, {}, {}};
  std::string failure;
  if (!RunLine(text, number, &line, &failure)) {
    // The line may have begun to change the device before it stopped.
    if (!Stopped()) Replay(position_);
    const std::string prefix = file_.string() + ":" + std::to_string(number) + ": ";
    return refuse(failure.starts_with(prefix) ? std::string_view(failure).substr(prefix.size()) : failure);
  }
  lines_.resize(position_);
  lines_.push_back(std::move(line));
  ++position_;
  return true;
}

bool Session::Rewind(std::size_t to) {
  if (to > lines_.size()) return false;
  if (to < position_) {
    Replay(to);
    return true;
  }
  // Forward again: the live device goes on from where it is.
  while (position_ < to) {
    std::string failure;
    if (!RunLine(lines_[position_].text, position_ + 1, nullptr, &failure)) {
      lines_.resize(position_);
      Replay(position_);
      break;
    }
    ++position_;
  }
  return true;
}

void Session::Replay(std::size_t count) {
  for (;;) {
    live_ = std::make_unique<Live>(hostFolder_);
    live_->runner.SetCallBudget(callBudget_);
    // The kept lines hold what they showed: the replay need not work out
    // their registry changes again.
    live_->runner.SetRegistryChanges(false);
    position_ = 0;
    std::string failure;
    while (position_ < count && RunLine(lines_[position_].text, position_ + 1, nullptr, &failure)) ++position_;
    if (position_ == count) break;
    // A line that ran before no longer does (a host file it reads has
    // changed): the story ends before it, on a device that never saw it.
    lines_.resize(position_);
    count = position_;
  }
  live_->runner.SetRegistryChanges(true);
}

std::string Session::Scenario() const {
  std::string text;
  for (std::size_t i = 0; i < position_; ++i) text += lines_[i].text + "\n";
  return text;
}

std::string Session::Transcript() const {
  std::string text = "Scenario " + Name() + "\n";
  for (std::size_t i = 0; i < position_; ++i) text += lines_[i].transcript;
  return text;
}

std::string FreshDeviceOpening() {
  return "# Told with qxsim serve on a fresh Pocket PC 2002 device: its files\n"
         "# imported as the road begins.\n"
         "import connection-manager.reg\n"
         "import pocket-pc-2002-device.reg\n"
         "import quorvix-2002-install.reg\n";
}

}  // namespace qx::qxsim
