// The runner: reads a scenario line by line, finds each line's verb, and
// hands each step to the writers (the transcript, the storyboard); also the names a scenario uses
// for windows, keys and the tray client.
#include "tools/qxsim/verbs.h"

#include <algorithm>
#include <iostream>

#include "client/quorvix.h"
#include "client/resources.h"

namespace qx::qxsim {

void InstallLauncher(sim::Kernel& kernel, std::u16string_view path, const LauncherEdition& edition) {
  kernel.InstallProgram(path, {[&edition](Platform& platform, std::u16string_view commandLine) {
                                 return RunStrevel(platform, edition, commandLine);
                               },
                               {}});
}

std::u16string StringValue(sim::SimRegistry& registry, HKEY root, std::u16string_view path,
                           std::u16string_view name) {
  const auto value = registry.GetValue(root, path, name);
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return {};
  return sim::StringText(value->data);
}

namespace {

void InstallPrograms(sim::Kernel& kernel) {
  const std::vector<int> icons(ClientIconIds().begin(), ClientIconIds().end());
  kernel.InstallProgram(kClient2002Path, {[](Platform& platform, std::u16string_view) {
                                            return RunQuorvix(platform, kClient2002Build);
                                          },
                                          icons});
  InstallLauncher(kernel, kLauncherPath, kStrevel2002);
  kernel.InstallProgram(kClient2003Path, {[](Platform& platform, std::u16string_view) {
                                            return RunQuorvix(platform, kClient2003Build);
                                          },
                                          icons});
}

}  // namespace

Runner::Runner(std::ostream& out, bool colour)
    : transcript_(out, colour), writers_{&transcript_}, errors_(&std::cerr) {
  InstallPrograms(device_.kernel());
  device_.ledger().SetWatcher([this](sim::Call) { return Watch(); });
}

void Runner::Emit(const std::function<void(Writer&)>& event) {
  for (Writer* writer : writers_) event(*writer);
}

sim::CallVerdict Runner::Watch() {
  sim::Kernel& kernel = device_.kernel();
  // The runner's own look-ups and the world's doings (finding the browser
  // for "front browser", the shell starting a program) are not the
  // programs': they are neither counted nor failed, and no kill waits
  // for them.
  if (kernel.CallingProcess() == 0) return {.error = std::nullopt, .uncounted = true};
  // A program that was ended abruptly reaches nothing any more.
  if (kernel.CallerEnded()) return {.error = ERROR_INVALID_HANDLE};
  // Ending a program right after a call is ending it as it makes the next
  // one: that call never happens.
  if (killAfter_ != 0 && programCalls_ == killAfter_) {
    killed_ = true;
    killAfter_ = 0;
    kernel.EndCaller();
    return {.error = ERROR_INVALID_HANDLE};
  }
  if (callBudget_ != 0 && programCalls_ >= callBudget_) {
    ranAway_ = true;
    kernel.EndCaller();
    return {.error = ERROR_INVALID_HANDLE};
  }
  ++programCalls_;
  return {};
}

void Runner::Recover(const Line& after) {
  Emit([&](Writer& w) { w.Note("The program ended abruptly; the device goes on as it would next."); });
  const std::string client = client2003_ ? "start client 2003" : "start client";
  for (const std::string& text : {std::string("reset"), client, std::string("advance 1 tick"), std::string("close client")}) {
    Line line = after;
    line.text = text;
    std::string error;
    line.words = SplitWords(text, &line.quoted, &error);
    RunLine(line);
  }
}

int Runner::RunFile(const std::filesystem::path& path) {
  bool ok = false;
  const std::string text = ReadFile(path, &ok);
  if (!ok) {
    std::error_code error;
    const std::string message =
        path.string() + (std::filesystem::is_directory(path, error) ? ": is a directory, not a scenario"
                                                                     : ": cannot read the scenario");
    Emit([&](Writer& w) { w.Problem(message); });
    *errors_ << message << "\n";
    return 1;
  }
  return RunText(text, path);
}

void Runner::RunStoryLine(Line& line) {
  if (const auto at = sim::InvalidUtf8At(line.text)) {
    Fail(line, "the line is not UTF-8: byte " + sim::ByteText(line.text[*at]) + " at column " +
                   std::to_string(*at + 1));
  }
  std::string error;
  line.words = SplitWords(line.text, &line.quoted, &error);
  if (!error.empty()) Fail(line, error);
  if (!line.words.empty()) RunLine(line);
  if (killed_) Recover(line);
}

// Whether one of the story's steps (not a comment, not a quoted text)
// starts the 2003 client: the edition the device restarts after an abrupt
// end.
bool Runner::NamesClient2003(std::string_view text) {
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    std::vector<bool> quoted;
    std::string error;
    const auto words = SplitWords(text.substr(start, end - start), &quoted, &error);
    if (words.size() == 3 && !quoted[0] && !quoted[1] && Lower(words[0]) == "start" && Lower(words[1]) == "client" &&
        words[2] == "2003") {
      return true;
    }
    start = end + 1;
  }
  return false;
}


int Runner::RunText(std::string_view text, const std::filesystem::path& name) {
  Emit([&](Writer& w) { w.BeginScenario(name.string()); });
  client2003_ = NamesClient2003(text);
  // Editors may save a byte order mark first, and CR LF, LF or CR line ends.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::size_t number = 0;
  std::size_t start = 0;
  try {
    while (start <= text.size()) {
      const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
      ++number;
      Line line;
      line.file = name;
      line.number = number;
      line.text = std::string(text.substr(start, end - start));
      start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
      RunStoryLine(line);
      if (killed_) break;
      if (end == text.size()) break;
    }
  } catch (const ScenarioError& error) {
    Emit([&](Writer& w) { w.Problem(error.what()); });
    // The transcript keeps the error in its place; standard error carries it
    // for whoever runs qxsim from a script.
    *errors_ << error.what() << "\n";
    return 1;
  }
  // An answer no box took is a story that says what did not happen: the
  // check after it would hold whatever the programs did.
  if (const std::size_t untaken = device_.kernel().QueuedAnswers(); untaken > 0 && !queuedAnswers_.empty() && !killed_ && !ranAway_) {
    const std::string& message = queuedAnswers_[queuedAnswers_.size() - std::min(untaken, queuedAnswers_.size())];
    Emit([&](Writer& w) { w.Problem(message); });
    *errors_ << message << "\n";
    failed_ = true;
  }
  std::vector<std::string> running;
  for (const auto& process : device_.kernel().Processes()) {
    if (process.program) running.push_back(sim::Utf8(process.image));
  }
  std::string summary = "End of scenario at t=" + Seconds(device_.kernel().Now());
  if (!running.empty()) {
    summary += "; still running:";
    for (const auto& image : running) summary += " \"" + image + "\"";
  }
  Emit([&](Writer& w) { w.EndScenario(summary); });
  return failed_ ? 1 : 0;
}

void Runner::Fail(const Line& line, const std::string& message) const {
  throw ScenarioError(line.file.string() + ":" + std::to_string(line.number) + ": " + message);
}

std::filesystem::path Runner::Resolve(const Line& line, const std::string& path) const {
  const std::filesystem::path given(path);
  const std::filesystem::path resolved = given.is_absolute() ? given : line.file.parent_path() / given;
  return hostFolder_ ? Confined(line, resolved) : resolved;
}

void Runner::RunLine(const Line& line) {
  const std::string first = Lower(line.words[0]);
  const std::string two = line.words.size() > 1 ? first + " " + Lower(line.words[1]) : std::string();
  const Verb* verb = nullptr;
  for (const Verb& candidate : Verbs()) {
    if (candidate.name == two || candidate.name == first) {
      verb = &candidate;
      if (candidate.name == two) break;
    }
  }
  if (verb == nullptr) {
    std::string known;
    for (const Verb& candidate : Verbs()) {
      if (known.find(candidate.name.substr(0, candidate.name.find(' '))) == std::string::npos) {
        known += (known.empty() ? "" : ", ") + candidate.name.substr(0, candidate.name.find(' '));
      }
    }
    Fail(line, "unknown verb \"" + line.words[0] + "\"; known verbs: " + known);
  }
  if (verb->name == "note") {
    // Notes are the story told to the reader: passed on as they stand.
    const std::size_t text = line.text.find_first_not_of(" \t", line.text.find_first_not_of(" \t") + 4);
    const std::string note = text == std::string::npos ? std::string() : line.text.substr(text);
    Emit([&](Writer& w) { w.Note(note); });
    return;
  }
  StepRecord step;
  step.file = line.file.filename().string();
  step.line = line.number;
  step.time = device_.kernel().Now();
  step.command = line.text.substr(line.text.find_first_not_of(" \t"));
  // The registry as the last step left it is kept between steps and taken
  // again only when something changed it since: most steps change nothing,
  // and a step that sets a large value should not copy it twice.
  sim::SimRegistry& registry = device_.registry();
  if (registryChanges_ && (!lastImage_ || lastImageGeneration_ != registry.Generation())) {
    lastImage_ = registry.Image();
    lastImageGeneration_ = registry.Generation();
  }
  device_.kernel().TakeEffects();
  out_.str({});
  // A step that cannot go on is still shown with what it printed and caused
  // before it stopped, then the problem.
  const auto finish = [&] {
    step.output = out_.str();
    step.effects = device_.kernel().TakeEffects();
    step.traced = device_.kernel().Tracing();
    if (verb->name != "expect") lastEffects_ = step.effects;
    if (registryChanges_ && registry.Generation() != lastImageGeneration_) {
      sim::RegistryImage after = registry.Image();
      step.registry = RegistryLines(*lastImage_, after);
      lastImage_ = std::move(after);
      lastImageGeneration_ = registry.Generation();
    }
    Emit([&](Writer& w) { w.Step(step, device_.kernel()); });
  };
  try {
    verb->run(*this, line);
  } catch (const ScenarioError&) {
    finish();
    throw;
  }
  finish();
}

HWND Runner::ClientWindow(std::size_t index) {
  std::size_t seen = 0;
  for (const auto& window : device_.kernel().TopLevelWindows()) {
    const std::u16string image = device_.kernel().ProcessImage(window.processId);
    if (window.className == kDialogClass && (image == kClient2002Path || image == kClient2003Path) &&
        (window.title == u"  " || window.title == u"Internet Explorer")) {
      if (seen++ == index) return window.hwnd;
    }
  }
  return nullptr;
}

HWND Runner::WindowNamed(const Line& line, const std::string& name) {
  std::string ambiguous;
  const HWND hwnd = FindWindowNamed(name, &ambiguous);
  if (!ambiguous.empty()) Fail(line, ambiguous);
  if (hwnd == nullptr) Fail(line, "there is no window \"" + name + "\"");
  return hwnd;
}

HWND Runner::FindWindowNamed(const std::string& name, std::string* ambiguous) {
  sim::Kernel& kernel = device_.kernel();
  const std::string lower = Lower(name);
  HWND hwnd = nullptr;
  if (lower == "browser") {
    hwnd = kernel.FindWindowW(u"IExplore", u"Internet Explorer");
  } else if (lower == "client") {
    hwnd = ClientWindow();
  } else if (lower == "player") {
    hwnd = kernel.FindWindowW(u"WMP", u"Windows Media");
  } else if (lower == "tasks") {
    hwnd = kernel.FindWindowW(u"WisMenuDlg", u"Tasks");
  } else if (lower == "desktop") {
    hwnd = kernel.GetDesktopWindow();
  } else {
    // A title that several windows carry names none of them: the tray
    // window takes the browser's title while it is shown over it.
    std::vector<std::string> found;
    for (const auto& window : kernel.TopLevelWindows()) {
      if (sim::Utf8(window.title) != name) continue;
      if (hwnd == nullptr) hwnd = window.hwnd;
      found.push_back("\"" + name + "\" (" + sim::Utf8(window.className) + " of " +
                      sim::Utf8(kernel.ProcessImage(window.processId)) + ")");
    }
    if (found.size() > 1) {
      *ambiguous = "\"" + name + "\" names " + std::to_string(found.size()) + " windows:";
      for (std::size_t i = 0; i < found.size(); ++i) *ambiguous += (i == 0 ? " " : ", ") + found[i];
      *ambiguous += "; name it browser, client, player, tasks or desktop";
      return nullptr;
    }
  }
  return hwnd;
}

HKEY Runner::RootOf(const Line& line, const std::string& keyPath, std::u16string* rest) const {
  const std::u16string path = sim::Utf16(keyPath);
  const auto slash = path.find(u'\\');
  const auto root = sim::RootFromName(path.substr(0, slash));
  if (!root) Fail(line, "\"" + keyPath + "\" does not start with HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE");
  *rest = slash == std::u16string::npos ? std::u16string() : path.substr(slash + 1);
  return *root;
}

const std::vector<Runner::Verb>& Runner::Verbs() {
  static const std::vector<Verb> verbs = VerbTable::Make();
  return verbs;
}

}  // namespace qx::qxsim

