// The tray's 200 ms poll as a state machine over what happens on the
// screen: the button window follows the browser, the proxy entries follow
// the browser being in front, and a tick that finds nothing new is cheap.
#include <atomic>
#include <memory>
#include <vector>
#include <cstdlib>
#include <new>

#include "tests/tray_fixture.h"

// Counts the allocations of this program while counting is switched on:
// a tray that polls five times a second for weeks must not allocate on the
// way.
namespace {
std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_allocations{0};
}  // namespace

// The pair below is malloc and free on both sides; the compiler cannot see
// that through the replaced operators and warns at every inlined delete.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (g_counting.load()) g_allocations.fetch_add(1);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace qx::tray {
namespace {

using Act = void (*)(TrayFixture&);

void SetBrowserHeight(TrayFixture& t, int height) {
  t.kernel().SetClientHeight(t.Browser(), height);
  t.kernel().BringToFront(t.Browser());  // the user taps the browser
}

// One world step, then one tick, then what the tray shows and whether the
// gateway entries are in force (while the switch is exactly 1).
struct PollStep {
  const char* what;
  Act act;
  bool shown;
  bool entries;
  LONG hiddenSize;  // 0 until the button has been set up once
};

const PollStep kPollSteps[] = {
    {"first tick without a browser", [](TrayFixture&) {}, false, false, 0},
    {"no browser: nothing to follow", [](TrayFixture&) {}, false, false, 0},
    {"the browser opens, 268 high", [](TrayFixture& t) { t.OpenBrowser(); }, true, true, 0},
    {"the browser goes to 320", [](TrayFixture& t) { SetBrowserHeight(t, 320); }, false, true, 16},
    {"the browser back at 268", [](TrayFixture& t) { SetBrowserHeight(t, 268); }, true, true, 0},
    {"the browser at exactly 300", [](TrayFixture& t) { SetBrowserHeight(t, 300); }, false, true, 16},
    {"the browser at 299", [](TrayFixture& t) { SetBrowserHeight(t, 299); }, true, true, 0},
    {"another program covers the probe point", [](TrayFixture& t) { t.Cover(); }, false, false, 16},
    {"the cover goes, Tasks comes to the front",
     [](TrayFixture& t) {
       t.kernel().CloseWindow(t.Window(u"Notes"));
       t.OpenTasks();
     },
     false, false, 16},
    {"Tasks goes", [](TrayFixture& t) { t.kernel().CloseWindow(t.Window(u"WisMenuDlg")); }, true, true, 0},
    {"Tasks in front while the browser grows to 320",
     [](TrayFixture& t) {
       t.OpenTasks();
       t.kernel().SetClientHeight(t.Browser(), 320);
     },
     true, true, 0},
    {"the tray's own window in front",
     [](TrayFixture& t) {
       t.kernel().CloseWindow(t.Window(u"WisMenuDlg"));
       t.kernel().BringToFront(t.Client());
     },
     true, true, 0},
    {"the browser tapped, still 320", [](TrayFixture& t) { t.kernel().BringToFront(t.Browser()); }, false, true, 16},
    {"the browser closes", [](TrayFixture& t) { t.kernel().CloseWindow(t.Browser()); }, false, false, 16},
    {"the browser comes back", [](TrayFixture& t) { t.OpenBrowser(); }, true, true, 0},
};

struct SwitchCase {
  const char* name;
  std::optional<DWORD> stored;
  bool entriesFollow;  // only exactly 1 is on
};

class PollStates : public TrayFixture, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(PollStates, FollowTheBrowser) {
  const SwitchCase& sw = GetParam();
  Store(u"USEQUORVIX", sw.stored);
  ASSERT_NE(StartClient(), 0u);
  Store(u"USEQUORVIX", sw.stored);  // start-up rewrites any nonzero value as 1
  for (const PollStep& step : kPollSteps) {
    SCOPED_TRACE(step.what);
    step.act(*this);
    Tick();
    if (step.shown) {
      EXPECT_TRUE(Shown());
    } else {
      EXPECT_TRUE(Hidden(step.hiddenSize));
    }
    EXPECT_EQ(Entries(), step.entries && sw.entriesFollow ? "on" : "off");
  }
  // The poll reads the switch and never writes it.
  EXPECT_EQ(Stored(), sw.stored ? std::optional(Dword(*sw.stored)) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Switch, PollStates,
                         ::testing::Values(SwitchCase{"on", 1, true}, SwitchCase{"off", 0, false},
                                           SwitchCase{"two", 2, false}, SwitchCase{"missing", std::nullopt, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PollStates, FirstTickHidesAndSwitchesOffEvenWithTheBrowserInFront) {
  OpenBrowser();
  ASSERT_NE(StartClient(), 0u);
  EXPECT_EQ(Entries(), "on");
  Tick();
  EXPECT_TRUE(Hidden(0));
  EXPECT_EQ(Entries(), "off");
  Tick();
  EXPECT_TRUE(Shown());
  EXPECT_EQ(Entries(), "on");
}

TEST_F(PollStates, EntriesAlreadyInForceAreNotWrittenAgain) {
  StartWithButton();
  kernel().CloseWindow(Browser());
  Tick();
  ASSERT_EQ(Entries(), "off");
  // Someone else points the entry at the gateway before the browser returns.
  device.registry().SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Proxy", REG_SZ, Sz(u"gw.quorvix.net:8000"));
  OpenBrowser();
  const auto before = ledger().Snapshot();
  Tick();
  const auto after = ledger().Snapshot();
  EXPECT_TRUE(Shown());
  for (sim::Call call :
       {sim::Call::RegSetValueExW, sim::Call::RegDeleteKeyW, sim::Call::SetTimer, sim::Call::KillTimer}) {
    const auto i = static_cast<std::size_t>(call);
    EXPECT_EQ(after[i], before[i]) << sim::CallName(call);
  }
  EXPECT_FALSE(device.registry().KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry));
}

// No check for a copy already running: each start is a window of its own
// with its own poll, and both write and remove the same entries.
TEST_F(PollStates, TwoStartsGiveTwoWindowsEachWithItsOwnPoll) {
  const DWORD first = StartClient();
  const DWORD second = StartClient();
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  ASSERT_NE(Client(1), nullptr);
  EXPECT_NE(kernel().Describe(Client(0))->processId, kernel().Describe(Client(1))->processId);
  EXPECT_EQ(kernel().LiveTimers(), 2u);
  Tick();
  EXPECT_TRUE(Hidden(0, 0) && Hidden(0, 1));
  EXPECT_EQ(Entries(), "off");
  OpenBrowser();
  Tick();
  EXPECT_TRUE(Shown(0) && Shown(1));
  EXPECT_EQ(Entries(), "on");
  kernel().CloseWindow(Browser());
  Tick();
  EXPECT_TRUE(Hidden(16, 0) && Hidden(16, 1));
  EXPECT_EQ(Entries(), "off");

  // The first one ends; the second goes on polling on its own timer.
  kernel().CloseWindow(kernel().Describe(Client(0))->processId == first ? Client(0) : Client(1));
  EXPECT_TRUE(ProcessIds(kClientPath) == std::vector<DWORD>{second});
  EXPECT_EQ(kernel().LiveTimers(), 1u);
  OpenBrowser();
  Tick();
  EXPECT_TRUE(Shown());
  EXPECT_EQ(Entries(), "on");
  kernel().CloseWindow(Client());
  EXPECT_EQ(Client(), nullptr);
  EXPECT_EQ(Entries(), "off");
}

// Steady states: a tick that finds what the last one found changes nothing,
// touches no registry and allocates nothing.
struct SteadyState {
  const char* name;
  Act arrive;
};

const SteadyState kSteadyStates[] = {
    {"NoBrowser",
     [](TrayFixture& t) {
       t.StartClient();
       t.Tick(2);
     }},
    {"ShownTrayInFront", [](TrayFixture& t) { t.StartWithButton(); }},
    {"ShownBrowserInFront",
     [](TrayFixture& t) {
       t.StartWithButton();
       t.kernel().BringToFront(t.Browser());
       t.Tick();
     }},
    {"BrowserAt320",
     [](TrayFixture& t) {
       t.StartWithButton();
       SetBrowserHeight(t, 320);
       t.Tick();
     }},
    {"TasksInFront",
     [](TrayFixture& t) {
       t.StartWithButton();
       t.OpenTasks();
       t.Tick();
     }},
    {"ProbeCovered",
     [](TrayFixture& t) {
       t.StartWithButton();
       t.Cover();
       t.Tick();
     }},
};

class SteadyTick : public TrayFixture, public ::testing::WithParamInterface<SteadyState> {};

TEST_P(SteadyTick, TouchesNoRegistryAndAllocatesNothing) {
  GetParam().arrive(*this);
  ASSERT_FALSE(HasFatalFailure());
  Tick();  // settle: the state is now the one the next tick will find
  const auto before = ledger().Snapshot();
  const std::size_t registryBefore = ledger().RegistryCount();
  // The counter sees an allocation of ours, so its silence below means something.
  [[maybe_unused]] static void* volatile sink = nullptr;
  g_allocations = 0;
  g_counting = true;
  auto probe = std::make_unique<std::vector<int>>(8);
  sink = probe.get();
  g_counting = false;
  ASSERT_GT(g_allocations.load(), 0u);
  g_allocations = 0;
  g_counting = true;
  Tick();
  g_counting = false;
  const auto after = ledger().Snapshot();
  EXPECT_EQ(ledger().RegistryCount(), registryBefore);
  EXPECT_EQ(g_allocations.load(), 0u);
  const auto delta = [&](sim::Call call) {
    return after[static_cast<std::size_t>(call)] - before[static_cast<std::size_t>(call)];
  };
  EXPECT_GE(delta(sim::Call::FindWindowW), 1u) << "no tick ran";
  for (sim::Call call : {sim::Call::SetWindowPos, sim::Call::ShowWindow, sim::Call::SetWindowTextW,
                         sim::Call::SetTimer, sim::Call::KillTimer, sim::Call::SetForegroundWindow}) {
    EXPECT_EQ(delta(call), 0u) << sim::CallName(call);
  }
}

INSTANTIATE_TEST_SUITE_P(States, SteadyTick, ::testing::ValuesIn(kSteadyStates),
                         [](const auto& info) { return std::string(info.param.name); });

// The window at the probe point is usually one of the browser's child
// windows (its page); the poll walks up the parents to find the browser.
TEST_F(PollStates, TheBrowserIsFoundThroughTheChildWindowAtTheProbePoint) {
  struct Case {
    const char* name;
    bool nested;     // a child inside the browser's page window
    bool otherTree;  // another program's window, with a child, over the probe point
    bool shown;
  };
  const Case cases[] = {{"page", false, false, true}, {"frame in the page", true, false, true},
                        {"another program's child", false, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartWithButton();
    const auto children = kernel().Children(Browser());
    ASSERT_FALSE(children.empty()) << "the browser shows its page in a child window";
    ASSERT_EQ(kernel().WindowFromPoint({10, 200}), children.front().hwnd);
    if (c.nested) kernel().OpenWorldChild(children.front().hwnd, u"Frame", {0, 100, 240, 200});
    if (c.otherTree) kernel().OpenWorldChild(Cover(), u"Pane", {0, 0, 240, 268});
    Tick();
    EXPECT_EQ(Shown(), c.shown);
    EXPECT_EQ(Entries(), c.shown ? "on" : "off");
    kernel().CloseWindow(Client());
    for (HWND w = Window(u"Notes"); w != nullptr; w = Window(u"Notes")) kernel().CloseWindow(w);
    kernel().CloseWindow(Browser());
    kernel().RunUntilQuiet();
  }
}

// The button's face: icon 133 at rest, icon 134 while the stylus holds it,
// 133 again once it is lifted.
TEST_F(PollStates, TheButtonShowsItsHotIconOnlyWhileTheStylusHoldsIt) {
  StartWithButton();
  const auto icon = [this] {
    const auto info = kernel().Describe(Button());
    int id = 0;
    for (const sim::DrawOp& op : info->lastPaint) {
      if (op.kind == sim::DrawOp::Kind::Icon) id = op.iconId;
    }
    return id;
  };
  EXPECT_EQ(icon(), 133);
  const auto info = kernel().Describe(Button());
  kernel().StylusDown({(info->rect.left + info->rect.right) / 2, (info->rect.top + info->rect.bottom) / 2});
  EXPECT_EQ(icon(), 134);
  kernel().StylusUp();
  EXPECT_EQ(icon(), 133);
  if (kernel().MenuOpen()) kernel().DismissMenu();
}

// With the browser away, a tray window that holds the foreground (another
// program can hand it to the hidden window) gives it to the desktop on the
// next tick.
TEST_F(PollStates, TheForegroundLeftOnTheTrayWindowGoesToTheDesktop) {
  StartWithButton();
  kernel().CloseWindow(Browser());
  kernel().RunUntilQuiet();
  Tick();
  ASSERT_FALSE(Shown());
  kernel().BringToFront(Client());
  ASSERT_EQ(kernel().GetForegroundWindow(), Client());
  Tick();
  EXPECT_EQ(kernel().GetForegroundWindow(), kernel().GetDesktopWindow());
}

// A tick that arrives while another is still running (through a nested
// message loop of that tick) is dropped: it asks the device for nothing but
// the default processing every timer message gets, and the running tick
// finishes as it would have alone.
TEST_F(PollStates, ATickArrivingInsideARunningTickIsDropped) {
  ASSERT_NE(StartClient(), 0u);
  Tick();
  OpenBrowser();
  bool delivered = false;
  bool nested = false;
  std::vector<std::string> nestedCalls;
  ledger().SetWatcher([&](sim::Call call) -> sim::CallVerdict {
    if (nested) nestedCalls.emplace_back(sim::CallName(call));
    // The running tick measures the browser: deliver the next tick now.
    if (call != sim::Call::GetClientRect || delivered) return {};
    delivered = nested = true;
    kernel().SendFromShell(Client(), WM_TIMER, 1, 0);
    nested = false;
    return {};
  });
  Tick();
  ledger().SetWatcher(nullptr);
  ASSERT_TRUE(delivered) << "the tick never measured the browser";
  // The framework's default processing, nothing of the tick (the message
  // is delivered inside the tick's own call, so it is the device's).
  EXPECT_EQ(nestedCalls, (std::vector<std::string>{"CallDefaultProc"}));
  EXPECT_TRUE(Shown());
  EXPECT_EQ(Entries(), "on");
}

}  // namespace
}  // namespace qx::tray
