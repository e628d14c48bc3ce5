// The tray button's popup menu and its commands, driven by taps, menu
// choices and answers as a user gives them.
#include "tests/tray_fixture.h"

namespace qx::tray {
namespace {

const std::string kResetBox =
    "message box \"Quorvix\": \"인터넷 설정 등이 변경되어 Quorvix가 정상 동작하지 않을 때 선택하는 메뉴입니다. "
    "설정값을 재적용하기 위해 Internet Explorer를 다시 시작하시겠습니까? \" [OK, Cancel]";
const std::string kRestartBox =
    "message box \"Quorvix\": \"설정값을 적용하기 위해서 Internet Explorer를 다시 시작합니다.\" [OK]";

bool HasExactly(const std::vector<std::string>& effects, const std::string& text) {
  return std::find(effects.begin(), effects.end(), text) != effects.end();
}

// The gateway switched with the browser started afresh and the Connection
// Manager restarted.
void ExpectRestarted(TrayFixture& t, const std::vector<std::string>& effects, DWORD oldConnMgr, HWND oldBrowser) {
  EXPECT_TRUE(TrayFixture::Has(effects, "process terminated: \"connmgr.exe\""));
  EXPECT_EQ(t.ProcessIds(u"connmgr.exe").size(), 1u);
  EXPECT_NE(t.ProcessIds(u"connmgr.exe").front(), oldConnMgr);
  EXPECT_TRUE(TrayFixture::Has(effects, "window closed: \"Internet Explorer\""));
  EXPECT_TRUE(TrayFixture::Has(effects, "the browser opens with its start page"));
  EXPECT_NE(t.Browser(), nullptr);
  EXPECT_NE(t.Browser(), oldBrowser);
  EXPECT_TRUE(t.Hidden(16));
}

struct MenuCase {
  const char* name;
  std::optional<DWORD> use;
  std::optional<std::u16string_view> id;
  bool checked;  // the gateway is on: "Use Quorvix" switches it off
  bool portals;  // portals and Exit
};

class TrayMenu : public TrayFixture, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(TrayMenu, OffersOneSwitchEntryAndThePortalsOnlyToTheOneAccount) {
  const MenuCase& c = GetParam();
  StartWithButton();
  Store(u"USEQUORVIX", c.use);
  StoreId(c.id);
  const DWORD connMgr = ProcessIds(u"connmgr.exe").front();
  const HWND browser = Browser();
  Effects();
  TapButton();
  ASSERT_TRUE(kernel().MenuOpen());
  std::vector<std::string> texts;
  std::vector<sim::MenuItemInfo> switches;
  for (const auto& item : kernel().OpenMenuItems()) {
    if (item.separator) continue;
    texts.push_back(sim::Utf8(item.text));
    if (item.text == u"Use Quorvix") switches.push_back(item);
  }
  std::vector<std::string> expected = {"About Quorvix", "Settings", "Use Quorvix", "Reset Quorvix", "Quorvix Home"};
  if (c.portals) expected.insert(expected.end(), {"Naver", "Yahoo", "Empas", "Exit"});
  EXPECT_EQ(texts, expected);
  ASSERT_EQ(switches.size(), 1u);
  EXPECT_EQ(switches[0].checked, c.checked);
  EXPECT_EQ(switches[0].id, c.checked ? ID_GATEWAY_OFF : ID_GATEWAY_ON);
  // Opened upwards from the button, ending at its right edge; the poll goes
  // on while it is open.
  EXPECT_TRUE(Has(Effects(), "popup menu at (200, 299), right-aligned, bottom-aligned: "));
  EXPECT_TRUE(Polls());
  ASSERT_TRUE(kernel().MenuOpen());

  Choose(u"Use Quorvix");
  EXPECT_EQ(Stored(), Dword(c.checked ? 0 : 1));
  EXPECT_EQ(Entries(), c.checked ? "off" : "on");
  ExpectRestarted(*this, Effects(), connMgr, browser);
  EXPECT_TRUE(Polls());
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, TrayMenu,
    ::testing::Values(MenuCase{"OnPelor", 1, u"pelor", true, true}, MenuCase{"OffPelor", 0, u"pelor", false, true},
                      MenuCase{"OffUpperCase", 0, u"PELOR", false, false},
                      MenuCase{"TwoEmptyId", 2, u"", false, false},
                      MenuCase{"MissingNoId", std::nullopt, std::nullopt, false, false},
                      MenuCase{"OnLongerId", 1, u"pelor1", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrayMenu, ExitEndsTheProgramWithTheEntriesOffAndThePlayerBack) {
  StartWithButton();
  StoreId(u"pelor");
  ASSERT_EQ(Entries(), "on");
  ASSERT_EQ(OpenCommand(), kLauncherCommand);
  TapButton();
  Choose(u"Exit");
  EXPECT_EQ(Client(), nullptr);
  EXPECT_TRUE(ProcessIds(kClientPath).empty());
  EXPECT_EQ(Entries(), "off");
  EXPECT_EQ(OpenCommand(), kPlayerCommand);
  EXPECT_EQ(Stored(), Dword(1));  // the switch outlives the program
  EXPECT_EQ(kernel().LiveTimers(), 0u);
  EXPECT_EQ(device.OpenHandles(), 0u);
}

struct ResetCase {
  const char* name;
  int answer;
  DWORD use;
};

class TrayReset : public TrayFixture, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(TrayReset, AsksThenReappliesTheStoredSwitch) {
  const ResetCase& c = GetParam();
  Store(u"USEQUORVIX", c.use);
  StartWithButton();
  kernel().Dial(u"GPRS");
  const DWORD connMgr = ProcessIds(u"connmgr.exe").front();
  const HWND browser = Browser();
  const std::string entries = Entries();
  const sim::RegistryImage image = device.registry().Image();
  TapButton();
  Effects();
  std::string why;
  ASSERT_TRUE(kernel().Answer(c.answer, &why)) << why;
  Choose(u"Reset Quorvix");
  const auto effects = Effects();
  EXPECT_TRUE(HasExactly(effects, kResetBox));
  if (c.answer == IDCANCEL) {
    EXPECT_TRUE(device.registry().Image() == image);
    EXPECT_EQ(Browser(), browser);
    EXPECT_EQ(ProcessIds(u"connmgr.exe"), std::vector<DWORD>{connMgr});
    EXPECT_EQ(kernel().Connections().size(), 1u);
    EXPECT_TRUE(Shown());
    EXPECT_EQ(Entries(), entries);
  } else {
    EXPECT_TRUE(kernel().Connections().empty());
    ExpectRestarted(*this, effects, connMgr, browser);
    EXPECT_EQ(Entries(), c.use == 1 ? "on" : "off");
    EXPECT_EQ(Stored(), Dword(c.use));
  }
  EXPECT_TRUE(Polls());
}

INSTANTIATE_TEST_SUITE_P(Answers, TrayReset,
                         ::testing::Values(ResetCase{"CancelOn", IDCANCEL, 1}, ResetCase{"CancelOff", IDCANCEL, 0},
                                           ResetCase{"OkOn", IDOK, 1}, ResetCase{"OkOff", IDOK, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// The question waits with the poll going; over the probe point it takes the
// button down meanwhile, and Cancel gives the browser back its button.
TEST_F(TrayReset, PollGoesOnWhileTheQuestionWaits) {
  StartWithButton();
  TapButton();
  Choose(u"Reset Quorvix");
  ASSERT_TRUE(kernel().BoxOpen());
  EXPECT_TRUE(Polls());
  EXPECT_TRUE(Polls());
  std::string why;
  ASSERT_TRUE(kernel().Answer(IDCANCEL, &why)) << why;
  Tick();
  EXPECT_TRUE(Shown());
  EXPECT_EQ(Entries(), "on");
}

// Settings and About stop the poll while they are open and start it again
// however they close.
struct DialogCase {
  const char* name;
  const char* entry;
  std::u16string_view title;
  int close;  // the control that closes it
};

class TrayDialogs : public TrayFixture, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(TrayDialogs, StopThePollWhileOpenAndChangeNothing) {
  const DialogCase& c = GetParam();
  StartWithButton();
  const sim::RegistryImage image = device.registry().Image();
  TapButton();
  Choose(sim::Utf16(c.entry));
  const HWND dialog = Window(kDialogClass, c.title);
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(Polls());
  EXPECT_FALSE(Polls());
  Press(dialog, c.close);
  EXPECT_EQ(Window(kDialogClass, c.title), nullptr);
  EXPECT_TRUE(device.registry().Image() == image);
  EXPECT_TRUE(Polls());
  EXPECT_FALSE(HasExactly(Effects(), kRestartBox));
}

INSTANTIATE_TEST_SUITE_P(Closed, TrayDialogs,
                         ::testing::Values(DialogCase{"SettingsCancel", "Settings", u"Settings", IDCANCEL},
                                           DialogCase{"AboutOk", "About Quorvix", u"Quorvix 정보", IDOK}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrayDialogs, AboutShowsItsVersionAndOkLabel) {
  StartWithButton();
  TapButton();
  Choose(u"About Quorvix");
  const HWND about = Window(kDialogClass, u"Quorvix 정보");
  ASSERT_NE(about, nullptr);
  std::vector<std::u16string> texts;
  for (const auto& child : kernel().Children(about)) texts.push_back(child.title);
  EXPECT_NE(std::find(texts.begin(), texts.end(), u"Quorvix v1.0 (1.0.0020)"), texts.end());
  EXPECT_EQ(kernel().Describe(Control(about, IDOK))->title, u"확인");
  Press(about, IDOK);
}

// Settings closed with OK: the notice, then the switch the dialog stored is
// applied with the browser started afresh.
class SettingsOk : public TrayFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(SettingsOk, TellsAndAppliesTheStoredSwitch) {
  const bool keepOn = GetParam();
  StartWithButton();
  const DWORD connMgr = ProcessIds(u"connmgr.exe").front();
  const HWND browser = Browser();
  TapButton();
  Choose(u"Settings");
  const HWND settings = Window(kDialogClass, u"Settings");
  ASSERT_NE(settings, nullptr);
  if (!keepOn) Press(settings, IDC_USE_GATEWAY);
  Effects();
  std::string why;
  ASSERT_TRUE(kernel().Answer(IDOK, &why)) << why;
  Press(settings, IDOK);
  const auto effects = Effects();
  EXPECT_TRUE(HasExactly(effects, kRestartBox));
  EXPECT_EQ(Stored(), Dword(keepOn ? 1 : 0));
  EXPECT_EQ(Entries(), keepOn ? "on" : "off");
  ExpectRestarted(*this, effects, connMgr, browser);
  EXPECT_TRUE(Polls());
}

INSTANTIATE_TEST_SUITE_P(Switch, SettingsOk, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "KeptOn" : "SwitchedOff"); });

TEST_F(TrayDialogs, SettingsJoinSwitchesOnAndOpensTheSignUpPage) {
  Store(u"USEQUORVIX", 0);
  StartWithButton();
  kernel().Dial(u"GPRS");
  TapButton();
  Choose(u"Settings");
  const HWND settings = Window(kDialogClass, u"Settings");
  ASSERT_NE(settings, nullptr);
  std::string why;
  ASSERT_TRUE(kernel().Answer(IDYES, &why)) << why;
  Effects();
  Press(settings, IDC_JOIN);
  const auto effects = Effects();
  EXPECT_FALSE(HasExactly(effects, kRestartBox));
  EXPECT_EQ(Stored(), Dword(1));
  EXPECT_EQ(Entries(), "on");
  EXPECT_TRUE(kernel().Connections().empty());
  EXPECT_TRUE(Has(effects, "window closed: \"Internet Explorer\""));
  EXPECT_TRUE(Has(effects, "the browser opens with \"http://m.quorvix.net/pda/join_provision.html\""));
  EXPECT_TRUE(Hidden(16));
  EXPECT_TRUE(Polls());
}

// Pages: Home restarts the poll's period around the start, the portals
// leave it running in its phase.
struct PageCase {
  const char* entry;
  const char* url;
  bool restartsPoll;
};

class TrayPages : public TrayFixture, public ::testing::WithParamInterface<PageCase> {};

TEST_P(TrayPages, OpenInTheBrowser) {
  const PageCase& c = GetParam();
  StoreId(u"pelor");
  StartWithButton();
  kernel().AdvanceTime(kTickMs / 2);
  TapButton();
  Effects();
  Choose(sim::Utf16(c.entry));
  EXPECT_EQ(kernel().ShellStarts().back(), u"iexplore.exe " + sim::Utf16(c.url));
  EXPECT_TRUE(Has(Effects(), "the browser shows \"" + std::string(c.url) + "\""));
  // Half a period on: the old phase ticks now, a restarted timer does not.
  const std::size_t before = ledger().Count(sim::Call::FindWindowW);
  kernel().AdvanceTime(kTickMs / 2);
  EXPECT_EQ(ledger().Count(sim::Call::FindWindowW) == before, c.restartsPoll);
  EXPECT_TRUE(Polls());
}

INSTANTIATE_TEST_SUITE_P(Entries, TrayPages,
                         ::testing::Values(PageCase{"Quorvix Home", "http://m.quorvix.net/pda", true},
                                           PageCase{"Naver", "http://www.naver.com/", false},
                                           PageCase{"Yahoo", "http://kr.yahoo.com/", false},
                                           PageCase{"Empas", "http://www.empas.com/", false}),
                         [](const auto& info) { return std::string(info.param.entry).substr(0, 5); });

}  // namespace
}  // namespace qx::tray
