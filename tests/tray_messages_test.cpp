// What other programs can ask of the tray window by message, and the
// dial-up hang-up that comes before every switch of the gateway.
#include "client/user_agent.h"
#include "tests/tray_fixture.h"

// Under AddressSanitizer these tests run with stack-use-after-return
// detection: a handler that answers into the frame of a sender that has
// already returned is reported, not written silently.
extern "C" const char* __asan_default_options() { return "detect_stack_use_after_return=1"; }

namespace qx::tray {
namespace {

LRESULT Send(TrayFixture& t, UINT message, WPARAM wParam = 0) {
  const std::optional<LRESULT> answer = t.kernel().SendFromShell(t.Client(), message, wParam, 0);
  EXPECT_TRUE(answer.has_value()) << "the handler has not returned";
  return answer.value_or(-1);
}

struct QueryCase {
  const char* name;
  std::optional<DWORD> stored;
  LRESULT answer;
};

class TrayQuery : public TrayFixture, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(TrayQuery, AnswersTheStoredSwitchAsItIs) {
  const QueryCase& c = GetParam();
  ASSERT_NE(StartClient(), 0u);
  Tick();
  Store(u"USEQUORVIX", c.stored);
  EXPECT_EQ(Send(*this, WM_QX_QUERY), c.answer);
  EXPECT_EQ(Stored(), c.stored ? std::optional(Dword(*c.stored)) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Stored, TrayQuery,
                         ::testing::Values(QueryCase{"Missing", std::nullopt, 0}, QueryCase{"Off", 0, 0},
                                           QueryCase{"On", 1, 1}, QueryCase{"Two", 2, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SetCase {
  const char* name;
  DWORD before;
  WPARAM wParam;
  bool on;
};

class TraySet : public TrayFixture, public ::testing::WithParamInterface<SetCase> {};

TEST_P(TraySet, SwitchesWithoutRestartingTheBrowser) {
  const SetCase& c = GetParam();
  Store(u"USEQUORVIX", c.before);
  StartWithButton();
  kernel().Dial(u"GPRS");
  const HWND browser = Browser();
  const DWORD connMgr = ProcessIds(u"connmgr.exe").front();
  Effects();
  kernel().AdvanceTime(kTickMs / 2);
  EXPECT_EQ(Send(*this, WM_QX_SET, c.wParam), 1);
  const auto effects = Effects();
  EXPECT_EQ(Stored(), Dword(c.on ? 1 : 0));
  EXPECT_EQ(Entries(), c.on ? "on" : "off");
  EXPECT_TRUE(Hidden(16));
  EXPECT_TRUE(kernel().Connections().empty());
  EXPECT_NE(ProcessIds(u"connmgr.exe"), std::vector<DWORD>{connMgr});
  EXPECT_EQ(Browser(), browser);
  EXPECT_FALSE(Has(effects, "window closed"));
  EXPECT_FALSE(Has(effects, "the browser"));
  // The poll keeps its phase: the next tick comes half a period later.
  const std::size_t before = ledger().Count(sim::Call::FindWindowW);
  kernel().AdvanceTime(kTickMs / 2);
  EXPECT_GT(ledger().Count(sim::Call::FindWindowW), before);
}

INSTANTIATE_TEST_SUITE_P(Values, TraySet,
                         ::testing::Values(SetCase{"OffToOn", 0, 1, true}, SetCase{"OnToOff", 1, 0, false},
                                           SetCase{"AnyNonzeroIsOn", 0, 7, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A switch made while the browser is not in front writes the entries, and
// they count as applied: the next tick takes them off again, as the entries
// are on only while the browser is in front; coming back writes them anew.
struct AwayCase {
  const char* name;
  void (*leave)(TrayFixture&);
  void (*comeBack)(TrayFixture&);
};

class TraySetAway : public TrayFixture, public ::testing::WithParamInterface<AwayCase> {};

TEST_P(TraySetAway, TheNextTickTakesTheEntriesOffAgain) {
  const AwayCase& c = GetParam();
  Store(u"USEQUORVIX", 0);
  ASSERT_NE(StartClient(), 0u);
  Tick();
  c.leave(*this);
  Tick();
  ASSERT_EQ(Entries(), "off");
  EXPECT_EQ(Send(*this, WM_QX_SET, 1), 1);
  EXPECT_EQ(Entries(), "on");
  Tick();
  EXPECT_EQ(Entries(), "off");
  Tick();
  EXPECT_EQ(Entries(), "off");
  EXPECT_EQ(Stored(), Dword(1));
  c.comeBack(*this);
  Tick();
  EXPECT_EQ(Entries(), "on");
}

INSTANTIATE_TEST_SUITE_P(
    Browser, TraySetAway,
    ::testing::Values(AwayCase{"NotRunning", [](TrayFixture&) {}, [](TrayFixture& t) { t.OpenBrowser(); }},
                      AwayCase{"Covered",
                               [](TrayFixture& t) {
                                 t.OpenBrowser();
                                 t.Tick();
                                 t.Cover();
                               },
                               [](TrayFixture& t) { t.kernel().CloseWindow(t.Window(u"Notes", u"Notes")); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrayQuery, DisableExitSwitchesOffRestartsTheBrowserAndEnds) {
  StartWithButton();
  ASSERT_EQ(Entries(), "on");
  kernel().Dial(u"GPRS");
  const HWND browser = Browser();
  const DWORD connMgr = ProcessIds(u"connmgr.exe").front();
  Effects();
  Send(*this, WM_QX_DISABLE_EXIT);
  const auto effects = Effects();
  EXPECT_EQ(Client(), nullptr);
  EXPECT_TRUE(ProcessIds(kClientPath).empty());
  EXPECT_EQ(Stored(), Dword(0));
  EXPECT_EQ(Entries(), "off");
  EXPECT_EQ(OpenCommand(), kPlayerCommand);
  EXPECT_TRUE(kernel().Connections().empty());
  EXPECT_NE(ProcessIds(u"connmgr.exe"), std::vector<DWORD>{connMgr});
  EXPECT_TRUE(Has(effects, "window closed: \"Internet Explorer\""));
  EXPECT_TRUE(Has(effects, "the browser opens with its start page"));
  EXPECT_NE(Browser(), nullptr);
  EXPECT_NE(Browser(), browser);
  EXPECT_EQ(kernel().LiveTimers(), 0u);
  EXPECT_EQ(device.OpenHandles(), 0u);
}

// Message 1124 while a dialog or question of the client is open: that one
// ends as a cancel would and the program ends at once with the gateway off;
// nothing left behind switches it on again.
struct OpenCase {
  const char* name;
  void (*open)(TrayFixture&);
};

class TrayEndsOverDialog : public TrayFixture, public ::testing::WithParamInterface<OpenCase> {};

void FromMenu(TrayFixture& t, std::u16string_view entry) {
  t.TapButton();
  t.Choose(entry);
}

void InSettings(TrayFixture& t, int control) {
  FromMenu(t, u"Settings");
  t.Press(t.Window(kDialogClass, u"Settings"), control);
}

TEST_P(TrayEndsOverDialog, TheDialogEndsAndSoDoesTheProgram) {
  const OpenCase& c = GetParam();
  device.registry().SetValue(HKEY_LOCAL_MACHINE, kUserAgentKey, kUaLanguageName, REG_SZ, Sz(u"JavaScript"));
  StartWithButton();
  c.open(*this);
  const auto open = [&] {
    std::size_t count = 0;
    for (const auto& window : kernel().TopLevelWindows()) count += window.className == kDialogClass;
    return count;
  };
  ASSERT_GE(open(), 2u) << "the tray window and the dialog or question";
  Effects();
  EXPECT_EQ(Send(*this, WM_QX_DISABLE_EXIT), 0);
  const auto effects = Effects();
  // The browser restarts once, for the switch-off, and nothing follows it.
  EXPECT_EQ(std::count(effects.begin(), effects.end(), "the browser opens with its start page"), 1) << "\n"
      << ::testing::PrintToString(effects);
  EXPECT_FALSE(kernel().BoxOpen());
  EXPECT_EQ(open(), 0u);
  EXPECT_TRUE(ProcessIds(kClientPath).empty());
  const auto expectOff = [&] {
    EXPECT_EQ(Stored(), Dword(0));
    EXPECT_EQ(Entries(), "off");
    EXPECT_EQ(Text(*device.registry().GetValue(HKEY_LOCAL_MACHINE, kUserAgentKey, kUaLanguageName)), u"JavaScript");
    EXPECT_EQ(OpenCommand(), kPlayerCommand);
  };
  expectOff();
  // The user goes on as if the dialog were still there.
  std::string why;
  kernel().Answer(IDOK, &why);
  OpenBrowser();
  Tick(3);
  expectOff();
  EXPECT_EQ(kernel().LiveTimers(), 0u);
  EXPECT_EQ(device.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Open, TrayEndsOverDialog,
    ::testing::Values(OpenCase{"Settings", [](TrayFixture& t) { FromMenu(t, u"Settings"); }},
                      OpenCase{"About", [](TrayFixture& t) { FromMenu(t, u"About Quorvix"); }},
                      OpenCase{"ResetQuestion", [](TrayFixture& t) { FromMenu(t, u"Reset Quorvix"); }},
                      OpenCase{"RestartNotice", [](TrayFixture& t) { InSettings(t, IDOK); }},
                      OpenCase{"JoinQuestion", [](TrayFixture& t) { InSettings(t, IDC_JOIN); }}),
    [](const auto& info) { return std::string(info.param.name); });

// When a send of 1124's handler fails, or the end it gives the Reset
// question, the question may outlive the switch-off; an OK given to it
// afterwards must not switch or restart anything again. Each of the first
// sends fails in turn, each on a fresh device.
TEST(TrayEndsOverFailingSend, AQuestionLeftOpenDoesNothingAfterTheSwitchOff) {
  struct Run : TrayFixture {
    void TestBody() override {}
  };
  bool questionOutlived = false;
  std::vector<sim::Fault> faults;
  for (std::size_t nth = 1; nth <= 8; ++nth) faults.push_back({sim::Call::SendMessageW, nth, 1, ERROR_ACCESS_DENIED});
  faults.push_back({sim::Call::EndDialog, 1, 1, ERROR_ACCESS_DENIED});
  for (const sim::Fault& fault : faults) {
    SCOPED_TRACE(testing::Message() << sim::CallName(fault.call) << " " << fault.nth << " fails");
    Run t;
    t.SetUp();
    ASSERT_NO_FATAL_FAILURE(t.StartWithButton());
    FromMenu(t, u"Reset Quorvix");
    ASSERT_TRUE(t.kernel().BoxOpen());
    t.ledger().Plan(fault);
    Send(t, WM_QX_DISABLE_EXIT);
    // A failed 1124 itself leaves the client running: the question is the user's.
    if (t.Stored() != Dword(0)) continue;
    questionOutlived = questionOutlived || t.kernel().BoxOpen();
    t.Effects();
    std::string why;
    t.kernel().Answer(IDOK, &why);
    for (const std::string& effect : t.Effects()) {
      EXPECT_EQ(effect.find("start \""), std::string::npos) << effect;
      EXPECT_EQ(effect.find("process terminated"), std::string::npos) << effect;
    }
    EXPECT_EQ(t.Stored(), Dword(0));
    EXPECT_EQ(t.Entries(), "off");
  }
  EXPECT_TRUE(questionOutlived) << "no failed send left the question open";
}

// A message whose handler first asks the user (here the Reset question)
// waits for the handler: its answer comes with the box's, queued before the
// message or given after it, once the whole handler has run.
class TraySendAsks : public TrayFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(TraySendAsks, TheAnswerComesWhenTheHandlerHasReturned) {
  const bool queuedBefore = GetParam();
  StartWithButton();
  std::string why;
  if (queuedBefore) {
    ASSERT_TRUE(kernel().Answer(IDOK, &why)) << why;
  }
  Effects();
  const std::optional<LRESULT> answer =
      kernel().SendFromShell(Client(), WM_COMMAND, MAKEWPARAM(ID_RESET, 0), 0);
  EXPECT_EQ(answer.has_value(), queuedBefore);
  EXPECT_EQ(kernel().BoxOpen(), !queuedBefore);
  if (!queuedBefore) {
    EXPECT_FALSE(Has(Effects(), "message 273 answered"));
    ASSERT_TRUE(kernel().Answer(IDOK, &why)) << why;
  }
  const auto effects = Effects();
  // The whole handler ran (the browser started again) before the answer.
  const auto restarted = std::find(effects.begin(), effects.end(), "the browser opens with its start page");
  const auto answered = std::find(effects.begin(), effects.end(), "message 273 answered 0");
  ASSERT_NE(restarted, effects.end()) << ::testing::PrintToString(effects);
  ASSERT_NE(answered, effects.end()) << ::testing::PrintToString(effects);
  EXPECT_LT(restarted, answered);
  EXPECT_EQ(Entries(), "on");
  EXPECT_TRUE(Polls());
}

INSTANTIATE_TEST_SUITE_P(Answer, TraySendAsks, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "QueuedBefore" : "GivenAfter"); });

// Only the poll timer's messages are ticks.
TEST_F(TrayQuery, TimerMessagesOfOtherIdsAreNoTicks) {
  ASSERT_NE(StartClient(), 0u);
  Tick();
  std::size_t before = ledger().Count(sim::Call::FindWindowW);
  Send(*this, WM_TIMER, 2);
  EXPECT_EQ(ledger().Count(sim::Call::FindWindowW), before);
  Send(*this, WM_TIMER, 1);  // the poll timer's id
  EXPECT_GT(ledger().Count(sim::Call::FindWindowW), before);
}

// WM_SETTINGCHANGE and the window's OK command, each after a change on the
// screen that no tick has seen yet.
struct ScreenCase {
  const char* name;
  void (*change)(TrayFixture&);
  UINT message;
  WPARAM wParam;
  bool shown;
  bool browserVisible;
};

class TrayScreen : public TrayFixture, public ::testing::WithParamInterface<ScreenCase> {};

TEST_P(TrayScreen, HidesUnlessTheBrowserIsInFront) {
  const ScreenCase& c = GetParam();
  StartWithButton();
  c.change(*this);
  Send(*this, c.message, c.wParam);
  ASSERT_NE(Client(), nullptr);  // OK never ends the window
  if (c.shown) {
    EXPECT_TRUE(Shown());
  } else {
    EXPECT_TRUE(Hidden(16));
  }
  if (const HWND browser = Browser()) {
    EXPECT_EQ(kernel().Describe(browser)->visible, c.browserVisible);
  }
}

const WPARAM kOk = MAKEWPARAM(IDOK, 0);
const ScreenCase kScreenCases[] = {
    {"SettingBrowserInFront", [](TrayFixture&) {}, WM_SETTINGCHANGE, 0, true, true},
    {"SettingTasksClearOfProbe", [](TrayFixture& t) { t.OpenTasks(); }, WM_SETTINGCHANGE, 0, true, true},
    {"SettingProbeCovered", [](TrayFixture& t) { t.Cover(); }, WM_SETTINGCHANGE, 0, false, true},
    {"SettingNoBrowser", [](TrayFixture& t) { t.kernel().CloseWindow(t.Browser()); }, WM_SETTINGCHANGE, 0, false,
     false},
    {"OkMinimisesTheBrowser", [](TrayFixture&) {}, WM_COMMAND, kOk, true, false},
    {"OkWithoutBrowserHides", [](TrayFixture& t) { t.kernel().CloseWindow(t.Browser()); }, WM_COMMAND, kOk, false,
     false},
};

INSTANTIATE_TEST_SUITE_P(Messages, TrayScreen, ::testing::ValuesIn(kScreenCases),
                         [](const auto& info) { return std::string(info.param.name); });

// OK minimises the browser: it goes behind every other window, where a
// hidden one would keep its place in front of them.
TEST_F(TrayScreen, OkSendsTheBrowserBehindEveryOtherWindow) {
  ASSERT_NE(StartClient(), 0u);
  Tick();
  const HWND notes = Cover();
  OpenBrowser();
  Tick();
  ASSERT_TRUE(Shown());
  Send(*this, WM_COMMAND, kOk);
  const HWND browser = Browser();
  ASSERT_NE(browser, nullptr);
  EXPECT_FALSE(kernel().Describe(browser)->visible);
  std::vector<HWND> order;
  for (const auto& window : kernel().TopLevelWindows()) order.push_back(window.hwnd);
  const auto at = [&](HWND hwnd) { return std::find(order.begin(), order.end(), hwnd) - order.begin(); };
  EXPECT_LT(at(notes), at(browser));
  EXPECT_NE(kernel().GetForegroundWindow(), browser);
}

// Hang-ups before a switch: the device's own connections (a backquote in
// the name) stay up; the 20-record buffer cannot take more than 20; a failed
// hang-up ends the walk.
struct HangUpCase {
  const char* name;
  std::vector<std::u16string> dialled;
  std::size_t failingHangUp;  // 1-based; 0 = none fails
  std::vector<std::u16string> remaining;
};

std::vector<std::u16string> Numbered(int count) {
  std::vector<std::u16string> names;
  for (int i = 1; i <= count; ++i) names.push_back(u"Line " + sim::Utf16(std::to_string(i)));
  return names;
}

class TrayHangUp : public TrayFixture, public ::testing::WithParamInterface<HangUpCase> {};

TEST_P(TrayHangUp, HangsUpBeforeSwitching) {
  const HangUpCase& c = GetParam();
  ASSERT_NE(StartClient(), 0u);
  for (const auto& name : c.dialled) kernel().Dial(name);
  if (c.failingHangUp != 0) ledger().Plan({sim::Call::RasHangUpW, c.failingHangUp, 1, ERROR_ACCESS_DENIED});
  EXPECT_EQ(Send(*this, WM_QX_SET, 1), 1);
  EXPECT_EQ(kernel().Connections(), c.remaining);
  EXPECT_EQ(Stored(), Dword(1));  // the switch goes on regardless
}

INSTANTIATE_TEST_SUITE_P(
    Connections, TrayHangUp,
    ::testing::Values(HangUpCase{"BackquoteStaysUp", {u"GPRS", u"Work`net", u"CSD", u"`"}, 0, {u"Work`net", u"`"}},
                      HangUpCase{"Twenty", Numbered(20), 0, {}},
                      HangUpCase{"TwentyOneTooMany", Numbered(21), 0, Numbered(21)},
                      HangUpCase{"FailureStops", {u"A", u"B", u"C"}, 2, {u"B", u"C"}},
                      HangUpCase{"NoneOpen", {}, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qx::tray
