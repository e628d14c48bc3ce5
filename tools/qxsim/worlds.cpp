// qxsim --world wine|both: a scenario told on the Windows builds under Wine,
// and with "both" on the simulated device as well, step by step, every
// difference a finding. The simulated device reads each line first (a line
// it cannot run stops the scenario as it does there); Wine then runs it,
// and the two steps are compared: the effects each program caused (in its
// own order), the registry values the step changed, what a check found,
// and what the step printed.
#include "tools/qxsim/worlds.h"

#include <algorithm>
#include <map>
#include <sstream>

#include <unistd.h>

#include "platform/framework/framework.h"
#include "tools/qxsim/verbs.h"
#include "tools/qxsim/world_wine.h"

namespace qx::qxsim {

namespace {

// Keeps the steps the simulated device's runner tells.
class StepCapture final : public Writer {
 public:
  void BeginScenario(const std::string&) override {}
  void Note(const std::string&) override {}
  void Step(const StepRecord& step, const sim::Kernel&) override { steps.push_back(step); }
  void Problem(const std::string& message) override { problems.push_back(message); }
  void EndScenario(const std::string&) override {}
  std::vector<StepRecord> steps;
  std::vector<std::string> problems;
};

// A program's compared effects, in its own order: programs run side by
// side on Wine, so only each one's order is fixed.
std::map<std::string, std::vector<std::string>> ByProgram(const std::vector<sim::Effect>& effects) {
  std::map<std::string, std::vector<std::string>> programs;
  for (const sim::Effect& effect : effects) {
    if (ComparedEffect(effect)) programs[effect.program].push_back(ComparedText(effect));
  }
  return programs;
}

std::vector<std::string> Lines(const std::vector<RegistryLine>& registry) {
  // Win32 documents no order of a key's values: compared as one set per key.
  std::vector<std::string> lines;
  std::string key;
  for (const RegistryLine& line : registry) {
    if (!line.value) key = line.text;
    lines.push_back(line.value ? key + " / " + line.text : line.text);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string Sorted(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

std::string Side(const std::string& label, const std::vector<std::string>& lines) {
  std::string text = "      " + label + ":\n";
  for (const auto& line : lines) text += "        " + line + "\n";
  if (lines.empty()) text += "        (nothing)\n";
  return text;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A "calls" listing without the window services: how many messages reach
// a window (paints, activations, what the dialog manager handles by
// itself), and so how often its program calls those services, is the
// system's; the other services a program calls as its logic says.
std::vector<std::string> ProgramLogicCalls(const std::string& listing) {
  std::vector<std::string> kept;
  for (const std::string& line : Split(listing)) {
    std::istringstream words(line);
    std::string name;
    words >> name;
    const auto call = sim::CallFromName(name);
    const bool window = call && *call >= sim::Call::FindWindowW && *call <= sim::Call::DrawIconEx;
    if (!window) kept.push_back(line);
  }
  return kept;
}

// The programs a program terminated in the step, by the effects' program
// name ("Quorvix2003.exe").
std::set<std::string> TerminatedPrograms(const std::vector<sim::Effect>& effects) {
  std::set<std::string> programs;
  const std::string prefix = "process terminated: \"";
  for (const sim::Effect& effect : effects) {
    if (effect.kind != sim::Effect::Kind::ProcessKilled || effect.program.empty()) continue;
    if (!effect.text.starts_with(prefix)) continue;
    const std::string image = effect.text.substr(prefix.size(), effect.text.find('"', prefix.size()) - prefix.size());
    programs.insert(sim::Utf8(ProgramBaseName(sim::Utf16(image))) + ".exe");
  }
  return programs;
}

// The first way the two steps differ, worded for the reader; empty when
// they agree.
std::string Difference(const std::string& verb, const StepRecord& sim, const WineWorld::Step& wine) {
  if (verb == "expect") {
    const bool simHeld = sim.output.find("expectation failed") == std::string::npos;
    if (wine.held && *wine.held != simHeld) {
      return "the check " + std::string(simHeld ? "holds" : "fails") + " on the simulated device and " +
             (*wine.held ? "holds" : "fails") + " on Wine\n" + Side("simulated device", Split(sim.output)) +
             Side("Wine", Split(wine.output));
    }
    return {};
  }
  const auto simPrograms = ByProgram(sim.effects);
  const auto winePrograms = ByProgram(wine.effects);
  std::set<std::string> programs;
  for (const auto& [name, lines] : simPrograms) programs.insert(name);
  for (const auto& [name, lines] : winePrograms) programs.insert(name);
  const std::set<std::string> terminated = TerminatedPrograms(sim.effects);
  for (const std::string& program : programs) {
    auto a = simPrograms.count(program) != 0 ? simPrograms.at(program) : std::vector<std::string>{};
    auto b = winePrograms.count(program) != 0 ? winePrograms.at(program) : std::vector<std::string>{};
    // A program another one terminates in the step: the device runs one
    // program at a time and the terminating one goes on first after a
    // message is answered, Wine runs them side by side, so one world may
    // have let it go further before its end came. What both did must
    // agree; what one did beyond is the race's.
    if (terminated.count(program) != 0) {
      const std::size_t common = std::min(a.size(), b.size());
      a.resize(common);
      b.resize(common);
    }
    if (a != b) return "the effects of " + program + " differ\n" + Side("simulated device", a) + Side("Wine", b);
  }
  if (Lines(sim.registry) != Lines(wine.registry)) {
    std::vector<std::string> a;
    std::vector<std::string> b;
    for (const auto& line : sim.registry) a.push_back(line.text);
    for (const auto& line : wine.registry) b.push_back(line.text);
    return "the registry changes differ\n" + Side("simulated device", a) + Side("Wine", b);
  }
  const bool exported = verb == "export";
  if (verb == "calls") {
    const auto a = ProgramLogicCalls(sim.output);
    const auto b = ProgramLogicCalls(wine.output);
    if (a != b) return "the calls the programs made differ\n" + Side("simulated device", a) + Side("Wine", b);
    return {};
  }
  if ((exported ? Sorted(sim.output) : sim.output) != (exported ? Sorted(wine.output) : wine.output)) {
    return "what the step printed differs\n" + Side("simulated device", Split(sim.output)) +
           Side("Wine", Split(wine.output));
  }
  return {};
}

}  // namespace

int RunOnWorlds(const std::vector<std::filesystem::path>& scenarios, bool compare, std::ostream& out,
                std::ostream& errors, const std::filesystem::path& templatePrefix,
                const std::filesystem::path& workDir, const std::vector<std::string>& plants) {
  std::size_t compared = 0;
  std::size_t notCompared = 0;
  std::size_t differ = 0;
  int status = 0;
  for (const auto& path : scenarios) {
    bool ok = false;
    std::string text = ReadFile(path, &ok);
    if (!ok) {
      errors << path.string() << ": cannot read the scenario\n";
      status = 1;
      continue;
    }
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    std::ostringstream silent;
    std::ostream& simOut = compare ? out : silent;
    Runner sim(simOut, false);
    sim.SetErrorStream(silent);
    StepCapture capture;
    sim.AddWriter(capture);
    for (const std::string& plant : plants) {
      if (plant == "registry-case") sim.device().registry().PlantCaseSensitiveValueNames(true);
      if (plant == "box-end") sim.device().kernel().PlantBoxEndAnswer(IDOK);
    }
    // A prefix of its own per scenario and run (two scenarios may share a
    // name), made afresh and taken away afterwards.
    const std::filesystem::path prefix =
        workDir / (std::to_string(::getpid()) + "-" + std::to_string(&path - scenarios.data()) + "-" + path.stem().string());
    std::unique_ptr<WineWorld> wine;
    for (int attempt = 0; attempt < 2 && !wine; ++attempt) {
      try {
        std::filesystem::remove_all(prefix);
        wine = std::make_unique<WineWorld>(templatePrefix, prefix);
      } catch (const std::exception& failure) {
        // A Wine that did not come up is tried once more: its server may
        // still have been ending an earlier prefix's programs.
        if (attempt == 1) errors << path.string() << ": the Wine world cannot start: " << failure.what() << "\n";
      }
    }
    if (!wine) {
      status = 1;
      ++differ;
      continue;
    }
    struct Cleanup {
      std::unique_ptr<WineWorld>& world;
      std::filesystem::path prefix;
      ~Cleanup() {
        world.reset();
        std::error_code error;
        std::filesystem::remove_all(prefix, error);
      }
    } cleanup{wine, prefix};
    for (const std::string& plant : plants) {
      if (plant == "unterminated-strings") wine->link->SetPlants(observed::kPlantUnterminatedStrings);
    }
    TranscriptWriter transcript(out, false);
    if (!compare) transcript.BeginScenario(path.string());
    if (compare) out << "On Wine " << wine->WineVersion() << " as well, step by step.\n";
    std::size_t number = 0;
    bool stop = false;
    for (std::size_t start = 0; start <= text.size() && !stop;) {
      const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
      ++number;
      Line line;
      line.file = path;
      line.number = number;
      line.text = text.substr(start, end - start);
      start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
      std::string error;
      line.words = SplitWords(line.text, &line.quoted, &error);
      // The simulated device reads the line first, and knows its keys.
      const sim::RegistryImage before = sim.device().registry().Image();
      const std::size_t steps = capture.steps.size();
      std::string failure;
      const bool ran = sim.RunLiveLine(line.text, path, number, &failure);
      if (!ran) {
        out << failure << "\n";
        errors << failure << "\n";
        status = 1;
        break;
      }
      if (line.words.empty() || Lower(line.words[0]) == "note") {
        if (!compare && !line.words.empty()) transcript.Note(line.text.substr(line.text.find_first_not_of(" \t") + 4));
        if (end == text.size()) break;
        continue;
      }
      // Every key the story has on the simulated device is watched on Wine.
      const std::function<void(HKEY, const sim::RegistryImage::Key&, const std::u16string&)> watch =
          [&](HKEY root, const sim::RegistryImage::Key& key, const std::u16string& keyPath) {
            // Keys that only lead to others are not read: on Wine they
            // hold the system's own keys by the hundred.
            if (!key.values.empty() || key.subKeys.empty()) wine->Watch(root, keyPath);
            for (const auto& sub : key.subKeys) watch(root, sub, keyPath.empty() ? sub.name : keyPath + u"\\" + sub.name);
          };
      const sim::RegistryImage after = sim.device().registry().Image();
      for (const sim::RegistryImage* image : {&before, &after}) {
        for (std::size_t r = 0; r < image->roots.size(); ++r) watch(sim::kRegistryRoots[r], image->roots[r], u"");
      }
      // The simulated device's steps of this line: one, or with an abrupt
      // end the device's next steps after it.
      std::vector<Line> wineLines{line};
      if (capture.steps.size() > steps + 1) {
        for (std::size_t i = steps + 1; i < capture.steps.size(); ++i) {
          Line next = line;
          next.text = capture.steps[i].command;
          next.words = SplitWords(next.text, &next.quoted, &error);
          wineLines.push_back(next);
        }
      }
      for (std::size_t i = 0; i < wineLines.size() && !stop; ++i) {
        WineWorld::Step step;
        try {
          step = wine->Run(wineLines[i]);
        } catch (const ScenarioError& failure) {
          out << "    on Wine: " << failure.what() << "\n";
          errors << failure.what() << "\n";
          ++differ;
          status = 1;
          stop = true;
          break;
        }
        // A check that fails fails the story, whether or not the worlds
        // agree on it.
        const bool failedHere = step.held.has_value() && !*step.held;
        const bool failedOnDevice = compare && steps + i < capture.steps.size() && step.held.has_value() &&
                                    capture.steps[steps + i].output.find("expectation failed") != std::string::npos;
        if (failedHere || failedOnDevice) status = 1;
        if (!compare) {
          StepRecord record;
          record.file = path.filename().string();
          record.line = number;
          record.command = wineLines[i].text.substr(wineLines[i].text.find_first_not_of(" \t"));
          record.output = step.output;
          record.effects = step.effects;
          record.traced = step.traced;
          record.registry = step.registry;
          transcript.Step(record, sim.device().kernel());
          if (!step.notCompared.empty()) out << "    not compared on this world: " << step.notCompared << "\n";
          continue;
        }
        if (steps + i >= capture.steps.size()) break;
        if (!step.notCompared.empty()) {
          out << "    not compared on this world: " << step.notCompared << "\n";
          ++notCompared;
          continue;
        }
        const std::string verb = Lower(wineLines[i].words[0]);
        const std::string difference = Difference(verb, capture.steps[steps + i], step);
        if (difference.empty()) {
          ++compared;
          continue;
        }
        const std::string where = path.string() + ":" + std::to_string(number);
        out << "    " << where << ": the worlds differ: " << difference;
        errors << where << ": the worlds differ: " << difference.substr(0, difference.find('\n')) << "\n";
        ++differ;
        status = 1;
        stop = true;
      }
      // After an abrupt end and the device's next steps, the story is over,
      // as it is when the runner reads it from its file.
      if (end == text.size() || sim.Killed()) break;
    }
    if (!compare) transcript.EndScenario("End of scenario on Wine");
  }
  if (compare) {
    out << "worlds agree: " << compared << " steps compared, " << notCompared << " not compared, " << differ
        << " differ\n";
  }
  return status;
}

}  // namespace qx::qxsim
