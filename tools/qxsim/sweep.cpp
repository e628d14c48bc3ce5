// qxsim sweep: every platform call of a scenario failed once, and failing
// from it on; every program ended abruptly after each of its calls, with
// the device's next steps after it. Each run is checked for what must never
// happen whatever fails: a crash, a runaway, a handle left open, a string
// stored without its terminator, a playlist half written, and after an
// abrupt end, proxy entries or open commands left half-switched.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <mutex>
#include <sstream>
#include <thread>

#include "devicecontrol/device_control.h"
#include "tools/qxsim/verbs.h"

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/common_interface_defs.h>)
#include <sanitizer/common_interface_defs.h>
#define QX_SWEEP_DEATH_CALLBACK 1
#endif

namespace qx::qxsim {

namespace {

// A run may take this long on the wall clock before the sweep names it as
// hung and stops: a program spinning without a platform call is beyond the
// call budget's reach.
constexpr auto kRunWallClockLimit = std::chrono::seconds(60);
// A run's programs may make this many times the calls of the untouched run
// (and at least kMinCallBudget) before they count as runaways.
constexpr std::size_t kCallBudgetFactor = 20;
constexpr std::size_t kMinCallBudget = 20000;
constexpr std::size_t kMaxWorkers = 16;

// The runs in flight, for the last words of a run the sanitizers end.
std::array<std::atomic<const std::string*>, kMaxWorkers> g_inFlight{};

#ifdef QX_SWEEP_DEATH_CALLBACK
void NameRunsInFlight() {
  for (const auto& run : g_inFlight) {
    if (const std::string* line = run.load()) {
      std::fputs(("qxsim sweep: in flight when the process died: " + *line + "\n").c_str(), stderr);
    }
  }
}
#endif

struct Variant {
  std::string line;       // put before the scenario's first line
  enum class Kind { FailOnce, FailOn, Kill } kind;
  std::string reproduce;  // the whole finding prefix
};

// What the untouched run did.
struct Baseline {
  std::array<std::size_t, sim::kCallCount> counts{};
  std::size_t programCalls = 0;
  std::map<std::u16string, std::vector<BYTE>> files;
};

std::u16string GatewayHttpProxyText() {
  return std::u16string(endpoints::kGatewayProxyHost) + u":" + sim::Utf16(std::to_string(endpoints::kGatewayHttpPort));
}

bool NamesLauncher(std::u16string command) {
  std::transform(command.begin(), command.end(), command.begin(),
                 [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; });
  return command.find(u"stv.exe") != std::u16string::npos;
}

// After the device's next steps the client has closed: every HTTP entry is
// off without a twin, and the open commands name one program, not two.
void CheckRecovered(sim::SimRegistry& registry, std::vector<std::string>* findings) {
  for (const std::u16string& name : registry.SubKeyNames(HKEY_LOCAL_MACHINE, kProviderKey)) {
    if (!IsHttpEntryName(name)) continue;
    const std::u16string path = std::u16string(kProviderKey) + u"\\" + name;
    const bool on = StringValue(registry, HKEY_LOCAL_MACHINE, path, u"Proxy") == GatewayHttpProxyText();
    const std::u16string twin = SocksTwinName(name);
    const bool twinThere = registry.KeyExists(HKEY_LOCAL_MACHINE, std::u16string(kProviderKey) + u"\\" + twin);
    if (on && !twinThere) findings->push_back("half-switched: " + sim::Utf8(name) + " on without its SOCKS twin");
    if (!on && twinThere) findings->push_back("half-switched: " + sim::Utf8(twin) + " left with the gateway off");
  }
  std::size_t launcher = 0;
  std::size_t present = 0;
  for (std::u16string_view key : kStreamingOpenCommandKeys) {
    if (!registry.KeyExists(HKEY_CLASSES_ROOT, key)) continue;
    ++present;
    if (NamesLauncher(StringValue(registry, HKEY_CLASSES_ROOT, key, u""))) ++launcher;
  }
  if (launcher != 0 && launcher != present) {
    findings->push_back("open commands split: " + std::to_string(launcher) + " of " + std::to_string(present) +
                        " name the launcher");
  }
}

std::vector<std::string> Check(Runner& runner, const std::string& transcript, const Baseline& baseline,
                               bool killRun) {
  std::vector<std::string> findings;
  std::istringstream lines(transcript);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t text = line.find_first_not_of(' ');
    if (text == std::string::npos) continue;
    line.erase(0, text);
    if (line.find(" crashed: ") != std::string::npos) findings.push_back("crash: " + line);
    if (line.find(" left open: ") != std::string::npos && line.find("(its close was refused)") == std::string::npos) {
      findings.push_back("handle " + line);
    }
  }
  if (runner.RanAway()) findings.push_back("hang: a program went past its call budget");
  sim::SimDevice& device = runner.device();
  for (const std::string& value : device.registry().UnterminatedWrites()) {
    findings.push_back("string stored without its terminator: " + value);
  }
  for (const std::u16string& path : device.kernel().FilePaths()) {
    const auto now = device.kernel().GetFile(path);
    auto allowed = device.kernel().ContentsPut(path);
    if (const auto composed = baseline.files.find(path); composed != baseline.files.end()) {
      allowed.push_back(composed->second);
    }
    if (now && std::find(allowed.begin(), allowed.end(), *now) == allowed.end()) {
      findings.push_back("file " + sim::Utf8(path) + " is neither what was put there nor the whole playlist");
    }
  }
  if (killRun && runner.Killed()) CheckRecovered(device.registry(), &findings);
  return findings;
}

std::string FirstLine(const Variant& variant, const std::string& text) { return variant.line + "\n" + text; }

class Sweeper {
 public:
  Sweeper(std::ostream& out, unsigned jobs) : out_(out), jobs_(std::clamp<unsigned>(jobs, 1, kMaxWorkers)) {}

  // Sweeps one scenario; returns its findings.
  std::size_t Run(const std::filesystem::path& path) {
    const auto started = std::chrono::steady_clock::now();
    bool ok = false;
    const std::string text = ReadFile(path, &ok);
    const auto broken = [&](const std::string& why) {
      out_ << "finding: broken story: " << why << "; reproduce: " << path.string() << " as it stands\n";
      rows_.push_back({path.filename().string(), 0, 0, 0, 0, 1, 0.0});
      return std::size_t{1};
    };
    if (!ok || std::filesystem::is_directory(path)) return broken(path.string() + ": cannot read the scenario");
    Baseline baseline;
    {
      // A story that fails untouched would hide what its variants break:
      // it is a finding of its own, and its variants are not run.
      std::ostringstream transcript;
      std::ostringstream errors;
      Runner runner(transcript);
      runner.SetErrorStream(errors);
      if (runner.RunText(text, path) != 0) {
        const std::string first = errors.str().substr(0, errors.str().find('\n'));
        return broken(first.empty() ? path.string() + ": the scenario fails" : first);
      }
      baseline.counts = runner.device().ledger().Snapshot();
      baseline.programCalls = runner.ProgramCalls();
      for (const std::u16string& file : runner.device().kernel().FilePaths()) {
        baseline.files[file] = *runner.device().kernel().GetFile(file);
      }
    }
    std::vector<Variant> variants;
    std::size_t calls = 0;
    for (std::size_t i = 0; i < sim::kCallCount; ++i) {
      const std::string name(sim::CallName(static_cast<sim::Call>(i)));
      calls += baseline.counts[i];
      for (std::size_t n = 1; n <= baseline.counts[i]; ++n) {
        variants.push_back({"fail " + name + " " + std::to_string(n) + " 1", Variant::Kind::FailOnce, {}});
        variants.push_back({"fail " + name + " " + std::to_string(n) + " 0", Variant::Kind::FailOn, {}});
      }
    }
    for (std::size_t k = 1; k < baseline.programCalls; ++k) {
      variants.push_back({"kill after " + std::to_string(k), Variant::Kind::Kill, {}});
    }
    for (Variant& variant : variants) {
      variant.reproduce = path.string() + " with \"" + variant.line + "\" as its first line";
    }
    const std::size_t budget = std::max(kMinCallBudget, kCallBudgetFactor * baseline.programCalls);
    std::vector<std::vector<std::string>> results(variants.size());
    RunAll(variants, [&](std::size_t index) {
      const Variant& variant = variants[index];
      std::ostringstream transcript;
      Runner runner(transcript);
      runner.SetErrorStream(transcript);
      runner.SetRegistryChanges(false);
      runner.SetCallBudget(budget);
      runner.RunText(FirstLine(variant, text), path);
      results[index] = Check(runner, transcript.str(), baseline, variant.kind == Variant::Kind::Kill);
    });
    std::size_t findings = 0;
    std::array<std::size_t, 3> runs{};
    for (std::size_t i = 0; i < variants.size(); ++i) {
      ++runs[static_cast<std::size_t>(variants[i].kind)];
      for (const std::string& finding : results[i]) {
        out_ << "finding: " << finding << "; reproduce: " << variants[i].reproduce << "\n";
        ++findings;
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    rows_.push_back({path.filename().string(), calls, runs[0], runs[1], runs[2], findings, seconds});
    return findings;
  }

  void PrintSummary() const {
    out_ << "\n" << std::left << std::setw(22) << "scenario" << std::right << std::setw(7) << "calls"
         << std::setw(11) << "fail once" << std::setw(14) << "fail from on" << std::setw(7) << "kills"
         << std::setw(10) << "findings" << std::setw(10) << "seconds" << "\n";
    Row total{"total", 0, 0, 0, 0, 0, 0};
    for (const Row& row : rows_) {
      PrintRow(row);
      total.calls += row.calls;
      total.failOnce += row.failOnce;
      total.failOn += row.failOn;
      total.kills += row.kills;
      total.findings += row.findings;
      total.seconds += row.seconds;
    }
    PrintRow(total);
  }

 private:
  struct Row {
    std::string name;
    std::size_t calls, failOnce, failOn, kills, findings;
    double seconds;
  };

  void PrintRow(const Row& row) const {
    out_ << std::left << std::setw(22) << row.name << std::right << std::setw(7) << row.calls << std::setw(11)
         << row.failOnce << std::setw(14) << row.failOn << std::setw(7) << row.kills << std::setw(10) << row.findings
         << std::setw(10) << std::fixed << std::setprecision(1) << row.seconds << "\n";
  }

  // Runs every variant on jobs_ workers; a watchdog stops the whole sweep,
  // naming the run, when one outlasts the wall-clock limit.
  void RunAll(const std::vector<Variant>& variants, const std::function<void(std::size_t)>& run) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> done{false};
    using Clock = std::chrono::steady_clock;
    std::array<std::atomic<Clock::rep>, kMaxWorkers> since{};
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < jobs_; ++w) {
      workers.emplace_back([&, w] {
        for (std::size_t i = next++; i < variants.size(); i = next++) {
          g_inFlight[w] = &variants[i].reproduce;
          since[w] = Clock::now().time_since_epoch().count();
          run(i);
          since[w] = 0;
          g_inFlight[w] = nullptr;
        }
      });
    }
    std::mutex mutex;
    std::condition_variable finished;
    std::thread watchdog([&] {
      std::unique_lock lock(mutex);
      while (!finished.wait_for(lock, std::chrono::seconds(1), [&] { return done.load(); })) {
        const auto now = Clock::now().time_since_epoch().count();
        for (unsigned w = 0; w < jobs_; ++w) {
          const auto start = since[w].load();
          if (start != 0 && Clock::duration(now - start) > kRunWallClockLimit) {
            const std::string* line = g_inFlight[w].load();
            std::fputs(("finding: hang: the run outlasted the wall-clock limit; reproduce: " +
                        (line != nullptr ? *line : std::string("?")) + "\n")
                           .c_str(),
                       stderr);
            std::_Exit(1);
          }
        }
      }
    });
    for (std::thread& worker : workers) worker.join();
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    finished.notify_all();
    watchdog.join();
  }

  std::ostream& out_;
  unsigned jobs_;
  std::vector<Row> rows_;
};

}  // namespace

int Sweep(const std::vector<std::filesystem::path>& scenarios, std::ostream& out, unsigned jobs) {
#ifdef QX_SWEEP_DEATH_CALLBACK
  __sanitizer_set_death_callback(&NameRunsInFlight);
#endif
  Sweeper sweeper(out, jobs);
  std::size_t findings = 0;
  for (const auto& path : scenarios) findings += sweeper.Run(path);
  sweeper.PrintSummary();
  return findings == 0 ? 0 : 1;
}

}  // namespace qx::qxsim
