// Connection Manager restart and browser control on the simulated device.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devicecontrol/device_control.h"
#include "platform/sim/sim.h"

namespace qx {
namespace {

using sim::Call;

class ProcessControlTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(device_.OpenHandles(), 0u) << "a handle was left open"; }
  sim::Kernel& kernel() { return device_.kernel(); }
  std::vector<DWORD> Pids(std::u16string_view image) {
    std::vector<DWORD> pids;
    for (const sim::ProcessInfo& p : kernel().Processes()) {
      if (image.empty() || p.image == image) pids.push_back(p.id);
    }
    return pids;
  }
  bool Running(DWORD pid) { return std::ranges::count(Pids(u""), pid) != 0; }
  // Every start so far was the shell's plain open: no owner, verb "open", no
  // directory, shown normally, the process handle asked for.
  void ExpectPlainOpens() {
    for (const sim::ShellStart& start : kernel().ShellRequests()) {
      EXPECT_EQ(start.verb, u"open");
      EXPECT_EQ(start.directory, u"");
      EXPECT_EQ(start.show, SW_SHOWNORMAL);
      EXPECT_EQ(start.mask, SEE_MASK_NOCLOSEPROCESS);
      EXPECT_EQ(start.owner, nullptr);
    }
  }

  sim::SimDevice device_;
  CDeviceControl control_{device_.platform(), kClient2002Build};
};

TEST_F(ProcessControlTest, RestartTerminatesEveryExactMatchAndStartsOne) {
  const std::pair<std::u16string_view, bool> cases[] = {
      {u"\\Windows\\connmgr.exe", true}, {u"connmgr.exe", true},  // beside the one the device booted with
      {u"CONNMGR.EXE", false},           {u"connmgr", false},
  };
  std::vector<DWORD> pids;
  for (const auto& [image, killed] : cases) pids.push_back(kernel().AddWorldProcess(image));
  const std::vector<DWORD> old = Pids(u"connmgr.exe");
  // The first match cannot be opened: the walk goes on past it.
  device_.ledger().Plan({Call::OpenProcess, 1, 1, ERROR_ACCESS_DENIED});

  EXPECT_EQ(control_.RestartConnectionManager(), TRUE);
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Running(pids[i]), !cases[i].second) << "case " << i;
  EXPECT_TRUE(Running(old[0])) << "the match that could not be opened";
  EXPECT_FALSE(Running(old[1]));
  EXPECT_EQ(Pids(u"connmgr.exe").size(), 2u);
  EXPECT_EQ(kernel().ShellStarts(), std::vector<std::u16string>{u"connmgr.exe "});
  ExpectPlainOpens();
  ASSERT_EQ(kernel().Terminations().size(), 2u);
  for (const sim::Termination& t : kernel().Terminations()) EXPECT_EQ(t.exitCode, static_cast<UINT>(-1));
}

TEST_F(ProcessControlTest, RestartWithoutProcessListChangesNothing) {
  for (bool toolhelp : {false, true}) {
    kernel().SetToolhelpPresent(toolhelp);
    if (toolhelp) device_.ledger().Plan({Call::CreateToolhelp32Snapshot, 1, 1, ERROR_NOT_ENOUGH_MEMORY});
    const std::vector<DWORD> before = Pids(u"");
    EXPECT_EQ(control_.RestartConnectionManager(), FALSE);
    EXPECT_EQ(Pids(u""), before);
    EXPECT_TRUE(kernel().ShellStarts().empty());
  }
  EXPECT_EQ(device_.ledger().Count(Call::MessageBoxW), 1u);
  const std::vector<sim::Effect> effects = kernel().TakeEffects();
  EXPECT_TRUE(std::ranges::any_of(effects, [](const sim::Effect& e) {
    return e.text == "message box \"TrayTaskList\": \"Toolhelp.dll not found\" [OK] (no owner)";
  }));
}

TEST_F(ProcessControlTest, CloseBrowserDestroysTheWindowTheSearchFinds) {
  const RECT area{0, 26, 240, 294};
  const HWND back = kernel().OpenWorldWindow(u"iexplore.exe", u"IExplore", u"Internet Explorer", area);
  const HWND front = kernel().OpenWorldWindow(u"iexplore.exe", u"IExplore", u"Internet Explorer", area);
  const HWND other = kernel().OpenWorldWindow(u"notes.exe", u"IExplore", u"Notes", area);
  control_.CloseBrowser();
  EXPECT_FALSE(kernel().IsWindow(front));
  EXPECT_TRUE(kernel().IsWindow(back));
  control_.CloseBrowser();
  control_.CloseBrowser();
  EXPECT_FALSE(kernel().IsWindow(back));
  EXPECT_TRUE(kernel().IsWindow(other));
  EXPECT_EQ(device_.ledger().Count(Call::DestroyWindow), 2u);
}

TEST_F(ProcessControlTest, OpenInBrowserPassesTheUrlAsParameters) {
  EXPECT_EQ(control_.OpenInBrowser(u""), TRUE);
  EXPECT_EQ(control_.OpenInBrowser(u"http://m.quorvix.net/pda"), TRUE);
  EXPECT_EQ(kernel().ShellStarts(),
            (std::vector<std::u16string>{u"iexplore.exe ", u"iexplore.exe http://m.quorvix.net/pda"}));
  ExpectPlainOpens();
  device_.ledger().Plan({Call::ShellExecuteExW, 1, 1, ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(control_.OpenInBrowser(u""), FALSE);
}

}  // namespace
}  // namespace qx
