// The kill and the sweep: a program ended abruptly reaches nothing more,
// the device's next steps follow in their order, a runaway is stopped, and
// the sweep over a clean story finds nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/qxsim/scenario.h"

namespace qx::qxsim {
namespace {

const std::filesystem::path kScenarios = QX_SCENARIO_DIR;
constexpr std::u16string_view kProvider =
    u"SOFTWARE\\Microsoft\\ConnMgr\\Providers\\{EF097F4C-DC4B-4c98-8FF6-AEF805DC0E8E}";
constexpr std::u16string_view kPlayerCommand = u"\"\\Program Files\\Windows Media Player 8\\player.exe\" \"%1\"";

std::string Story(const std::string& first) {
  return first + "\nimport connection-manager.reg\nimport pocket-pc-2002-device.reg\nimport quorvix-2002-install.reg\n"
                 "start client\nbrowser open\nadvance 2 ticks\nexpect no leaks\n";
}

TEST(QxsimKill, AKilledClientIsFollowedByResetRestartTickAndCloseWhichLeaveNothingHalfSwitched) {
  for (const int k : {1, 12, 25, 40, 60, 90}) {
    SCOPED_TRACE(k);
    std::ostringstream out;
    Runner runner(out);
    runner.SetErrorStream(out);
    runner.RunText(Story("kill after " + std::to_string(k)), kScenarios / "story.qxs");
    ASSERT_TRUE(runner.Killed()) << out.str();
    const std::string transcript = out.str();
    // The end, then the device's next steps in their order.
    std::size_t at = transcript.find("process terminated: \"\\Program Files\\Quorvix\\Quorvix.exe\"");
    for (const char* step : {"] reset\n", "] start client\n", "] advance 1 tick\n", "] close client\n"}) {
      const std::size_t next = transcript.find(step, at == std::string::npos ? 0 : at);
      ASSERT_NE(at, std::string::npos) << step << "\n" << transcript;
      ASSERT_NE(next, std::string::npos) << step << "\n" << transcript;
      at = next;
    }
    // Closed, the client leaves the gateway off and the player in charge.
    sim::SimRegistry& registry = runner.device().registry();
    EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, std::u16string(kProvider) + u"\\SOCKS-x"));
    const auto proxy = registry.GetValue(HKEY_LOCAL_MACHINE, std::u16string(kProvider) + u"\\HTTP-x", u"Proxy");
    ASSERT_TRUE(proxy.has_value());
    EXPECT_EQ(sim::StringText(proxy->data), u"wap.mobilenet.co.kr:1850");
    for (const char16_t* key : {u"MMS\\Shell\\Open\\Command", u"WVXFile\\Shell\\Open\\Command"}) {
      const auto command = registry.GetValue(HKEY_CLASSES_ROOT, key, u"");
      ASSERT_TRUE(command.has_value());
      EXPECT_EQ(sim::StringText(command->data), kPlayerCommand);
    }
  }
}

TEST(QxsimKill, ARunawayIsStoppedAtItsBudgetAndTheStoryGoesOn) {
  std::ostringstream out;
  Runner runner(out);
  runner.SetCallBudget(10);
  EXPECT_EQ(runner.RunText(Story("note bounded"), kScenarios / "story.qxs"), 0) << out.str();
  EXPECT_TRUE(runner.RanAway());
  EXPECT_EQ(runner.ProgramCalls(), 10u);
}

TEST(QxsimKill, BadKillLinesAreRefused) {
  for (const char* line : {"kill after 0", "kill after", "kill after soon", "kill after -3"}) {
    SCOPED_TRACE(line);
    std::ostringstream out;
    Runner runner(out);
    EXPECT_EQ(runner.RunText(std::string(line) + "\n", "story.qxs"), 1);
    EXPECT_NE(out.str().find("story.qxs:1: usage: kill after N"), std::string::npos) << out.str();
  }
}

// The device restarts the client of the edition the story's own steps
// start, not one that a comment or a note names.
TEST(QxsimKill, TheRecoveryStartsTheEditionTheStepsName) {
  struct Case {
    std::string story;
    std::u16string_view client;
  };
  const Case cases[] = {
      {"# start client 2003\nstart client\nkill after 5\nadvance 1 tick\n", u"Quorvix.exe"},
      {"note start client 2003\nstart client\nkill after 5\nadvance 1 tick\n", u"Quorvix.exe"},
      {"start client 2003\nkill after 5\nadvance 1 tick\n", u"Quorvix2003.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.story);
    std::ostringstream out;
    Runner runner(out);
    runner.RunText(c.story, kScenarios / "story.qxs");
    ASSERT_TRUE(runner.Killed()) << out.str();
    const std::string transcript = out.str();
    const std::size_t recovery = transcript.find("] reset\n");
    ASSERT_NE(recovery, std::string::npos) << transcript;
    const std::string started = "program started: \"\\Program Files\\Quorvix\\" + sim::Utf8(c.client) + "\"";
    EXPECT_NE(transcript.find(started, recovery), std::string::npos) << transcript;
  }
}

// A story that fails or cannot be read untouched is a finding itself.
TEST(QxsimSweep, ABrokenStoryIsAFinding) {
  const auto dir = std::filesystem::temp_directory_path() / "qxsim_sweep_broken";
  std::filesystem::create_directories(dir / "folder.qxs");
  struct Case {
    std::string name;
    std::string text;
    std::string finding;
  };
  const Case cases[] = {
      {"false.qxs", "start client\nexpect key HKEY_CURRENT_USER\\Nothing\n", "false.qxs:2: expectation failed"},
      {"malformed.qxs", "start client\nfly away\n", "malformed.qxs:2: unknown verb"},
      {"folder.qxs", "", "cannot read the scenario"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.text.empty()) {
      std::ofstream(dir / c.name) << c.text;
    }
    std::ostringstream out;
    EXPECT_EQ(Sweep({dir / c.name}, out, 2), 1) << out.str();
    EXPECT_NE(out.str().find("finding: broken story: "), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(c.finding), std::string::npos) << out.str();
  }
  std::filesystem::remove_all(dir);
}

TEST(QxsimSweep, ACleanStoryHasNoFindingAndItsRunsCounted) {
  std::ostringstream out;
  EXPECT_EQ(Sweep({kScenarios / "playlist.qxs"}, out, 2), 0) << out.str();
  EXPECT_EQ(out.str().find("finding:"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("playlist.qxs"), std::string::npos);
  EXPECT_NE(out.str().find("\ntotal "), std::string::npos);
}

}  // namespace
}  // namespace qx::qxsim
