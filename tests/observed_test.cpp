// The observed platform over the simulated device: the programs run the
// shipped stories seeing the device through the decorator, and what the
// decorator traces, worded as the runner words a Win32 program's trace,
// must be exactly what the device itself tells of the programs' calls.
// (On Wine the same decorator is the only witness; here the device is a
// second one.)
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "client/quorvix.h"
#include "client/resources.h"
#include "launcher/launcher.h"
#include "platform/observed/observed.h"
#include "tools/qxsim/scenario.h"
#include "tools/qxsim/verbs.h"
#include "tools/qxsim/world_trace.h"

namespace qx::qxsim {
namespace {

// Records kept in memory; calls counted; timers and window owners asked of
// the device itself.
class MemoryObserver final : public observed::Observer {
 public:
  explicit MemoryObserver(sim::SimDevice& device) : device_(device) {}
  std::optional<LONG> Enter(observed::Call call) override {
    ++counts[static_cast<std::size_t>(call)];
    return std::nullopt;
  }
  void SetLastError(DWORD error) override { device_.kernel().SetLastError(error); }
  void Write(observed::Record record, const std::vector<std::string>& fields) override {
    const std::u16string image = device_.kernel().ProcessImage(device_.kernel().CallingProcess());
    records.push_back({sim::Utf8(image), record, fields});
  }
  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) override {
    return device_.platform().windows.SetTimer(hwnd, id, elapseMs, nullptr);
  }
  BOOL KillTimer(HWND hwnd, UINT_PTR id) override { return device_.platform().windows.KillTimer(hwnd, id); }
  // The stories told here cut no file.
  std::optional<std::uint64_t> FileSize(HANDLE) override { return std::nullopt; }
  std::u16string ProcessImage(DWORD processId) override { return device_.kernel().ProcessImage(processId); }
  std::u16string WindowImage(HWND hwnd) override {
    const auto info = device_.kernel().Describe(hwnd);
    return info ? device_.kernel().ProcessImage(info->processId) : std::u16string();
  }

  std::array<std::size_t, observed::kCallCount> counts{};
  std::vector<TraceRecord> records;

 private:
  sim::SimDevice& device_;
};

// Each step's program effects of the kinds both worlds trace.
class StepEffects final : public Writer {
 public:
  StepEffects(MemoryObserver& observer, sim::Kernel& kernel) : observer_(observer), kernel_(kernel) {}
  void BeginScenario(const std::string&) override {}
  void Note(const std::string&) override {}
  void Problem(const std::string& message) override { problems.push_back(message); }
  void EndScenario(const std::string&) override {}
  void Step(const StepRecord& step, const sim::Kernel&) override {
    WorldNames names;
    for (const auto& process : kernel_.Processes()) names.images[process.id] = process.image;
    std::vector<std::string> device;
    std::vector<std::string> traced;
    for (const sim::Effect& effect : step.effects) {
      if (ComparedEffect(effect)) device.push_back(ComparedText(effect));
    }
    for (const TraceRecord& record : observer_.records) {
      const sim::Effect effect = EffectOf(record, names);
      if (effect.kind == sim::Effect::Kind::Registry && !step.traced) continue;
      traced.push_back(ComparedText(effect));
    }
    observer_.records.clear();
    if (device != traced) {
      std::ostringstream both;
      both << step.file << ":" << step.line << " " << step.command << "\n  the device:\n";
      for (const auto& line : device) both << "    " << line << "\n";
      both << "  the trace:\n";
      for (const auto& line : traced) both << "    " << line << "\n";
      differences.push_back(both.str());
    }
    ++steps;
  }

  std::vector<std::string> differences;
  std::vector<std::string> problems;
  std::size_t steps = 0;

 private:
  MemoryObserver& observer_;
  sim::Kernel& kernel_;
};

// Every program the runner puts on the device, seeing it observed.
void Observe(Runner& runner, MemoryObserver& observer) {
  sim::Kernel& kernel = runner.device().kernel();
  const std::vector<int> icons(ClientIconIds().begin(), ClientIconIds().end());
  const auto client = [&observer](const DeviceControlBuild& build) {
    return [&observer, &build](Platform& platform, std::u16string_view) {
      observed::ObservedPlatform seen(platform, observer);
      return RunQuorvix(seen.platform(), build);
    };
  };
  kernel.InstallProgram(kClient2002Path, {client(kClient2002Build), icons});
  kernel.InstallProgram(kClient2003Path, {client(kClient2003Build), icons});
  kernel.InstallProgram(kLauncherPath, {[&observer](Platform& platform, std::u16string_view line) {
                                          observed::ObservedPlatform seen(platform, observer);
                                          return RunStrevel(seen.platform(), kStrevel2002, line);
                                        },
                                        {}});
}

TEST(ObservedPlatform, TracesWhatTheDeviceTellsOfEveryShippedStory) {
  for (const char* story : {"road.qxs", "first-start.qxs", "user-agent.qxs", "shell-switch-end.qxs", "end-over-modal.qxs"}) {
    SCOPED_TRACE(story);
    std::ostringstream out;
    Runner runner(out);
    MemoryObserver observer(runner.device());
    Observe(runner, observer);
    StepEffects steps(observer, runner.device().kernel());
    runner.AddWriter(steps);
    const std::filesystem::path path = std::filesystem::path(QX_SCENARIO_DIR) / story;
    EXPECT_EQ(runner.RunFile(path), 0) << out.str().substr(0, 4000);
    EXPECT_GT(steps.steps, 10u);
    for (const std::string& difference : steps.differences) ADD_FAILURE() << difference;
  }
}

}  // namespace
}  // namespace qx::qxsim
