// What the tray does in which order: every command that switches the
// gateway hangs up and switches before the Connection Manager and the
// browser start again, Join switches before it hangs up, and the start-up
// takes a stored switch and an empty profile as the gateway expects them.
// The device traces registry writes among its effects, so an order can be
// read off as one sequence.
#include "tests/tray_fixture.h"

namespace qx::tray {
namespace {

const std::u16string kUserAgentKey(kPocketPc2002UserAgentKey);
// The value an empty profile gives: no account, the digest of no bytes,
// documents morphed, no booster, level code 90, navigation icons on.
constexpr std::u16string_view kEmptyProfileValue = u"JavaScript(;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0)";

// The effects that are one of the parts, each named by its part, with a
// run of the same part (two Connection Manager processes ended by one
// restart) shown once. A command is right when this is exactly the parts in
// their order: a step left out, moved or done twice shows.
std::vector<std::string> PartsSeen(const std::vector<std::string>& effects, const std::vector<std::string>& parts) {
  std::vector<std::string> seen;
  for (const std::string& effect : effects) {
    for (const std::string& part : parts) {
      if (effect.find(part) == std::string::npos) continue;
      if (seen.empty() || seen.back() != part) seen.push_back(part);
      break;
    }
  }
  return seen;
}

const std::string kHangUp = "dial-up connection hung up: \"GPRS\"";
const std::string kTypeOn = "HTTP-x] \"Type\"=dword:00000001";
const std::string kTypeOff = "HTTP-x] \"Type\"=dword:00000000";
const std::string kSwitchOn = "\"USEQUORVIX\"=dword:00000001";
const std::string kSwitchOff = "\"USEQUORVIX\"=dword:00000000";
const std::string kUserAgent = "\"UA-Language\"=";
const std::string kKillConnMgr = "process terminated: \"connmgr.exe\"";
const std::string kStartConnMgr = "start \"connmgr.exe\"";
const std::string kCloseBrowser = "window closed: \"Internet Explorer\" (IExplore";
const std::string kStartBrowser = "start \"iexplore.exe\" with parameters \"\"";

struct OrderCase {
  const char* name;
  std::optional<DWORD> stored;  // USEQUORVIX before the command
  void (*command)(TrayFixture&);
  std::vector<std::string> order;
};

class TrayOrder : public TrayFixture, public ::testing::WithParamInterface<OrderCase> {};

void ChooseSwitch(TrayFixture& t) {
  t.TapButton();
  t.Choose(u"Use Quorvix");
}
void ResetOk(TrayFixture& t) {
  std::string why;
  ASSERT_TRUE(t.kernel().Answer(IDOK, &why)) << why;
  t.TapButton();
  t.Choose(u"Reset Quorvix");
}
// Settings closed by a button, with the answer its message box will get.
void CloseSettings(TrayFixture& t, int answer, int button) {
  t.TapButton();
  t.Choose(u"Settings");
  std::string why;
  ASSERT_TRUE(t.kernel().Answer(answer, &why)) << why;
  t.Press(t.Window(kDialogClass, u"Settings"), button);
}
void SettingsOk(TrayFixture& t) { CloseSettings(t, IDOK, IDOK); }
void SettingsJoin(TrayFixture& t) { CloseSettings(t, IDYES, IDC_JOIN); }
void SendSet(TrayFixture& t) { t.kernel().SendFromShell(t.Client(), WM_QX_SET, 1, 0); }
void SendDisableExit(TrayFixture& t) { t.kernel().SendFromShell(t.Client(), WM_QX_DISABLE_EXIT, 0, 0); }

TEST_P(TrayOrder, HangsUpAndSwitchesBeforeTheRestarts) {
  const OrderCase& c = GetParam();
  device.registry().CreateKey(HKEY_LOCAL_MACHINE, kUserAgentKey);
  Store(u"USEQUORVIX", c.stored);
  StartWithButton();
  kernel().Dial(u"GPRS");
  kernel().SetTracing(true);
  Effects();
  c.command(*this);
  const std::vector<std::string> effects = Effects();
  EXPECT_EQ(PartsSeen(effects, c.order), c.order) << ::testing::PrintToString(effects);
  EXPECT_TRUE(kernel().Connections().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, TrayOrder,
    ::testing::Values(
        OrderCase{"GatewayOn", 0, ChooseSwitch,
                  {kHangUp, kTypeOn, kSwitchOn, kUserAgent, kKillConnMgr, kStartConnMgr, kCloseBrowser, kStartBrowser}},
        OrderCase{"GatewayOff", 1, ChooseSwitch,
                  {kHangUp, kTypeOff, kSwitchOff, kUserAgent, kKillConnMgr, kStartConnMgr, kCloseBrowser,
                   kStartBrowser}},
        OrderCase{"ResetOk", 1, ResetOk,
                  {"answered OK", kHangUp, kTypeOn, kSwitchOn, kUserAgent, kKillConnMgr, kStartConnMgr, kCloseBrowser,
                   kStartBrowser}},
        // The dialog stores the switch before its notice; the switch stores it again.
        OrderCase{"SettingsOk", 1, SettingsOk,
                  {kSwitchOn, "answered OK", kHangUp, kTypeOn, kSwitchOn, kUserAgent, kKillConnMgr, kStartConnMgr, kCloseBrowser,
                   kStartBrowser}},
        // Join switches first and hangs up after the restart.
        OrderCase{"Join", 0, SettingsJoin,
                  {kTypeOn, kSwitchOn, kUserAgent, kKillConnMgr, kStartConnMgr, kHangUp, kCloseBrowser,
                   "start \"iexplore.exe\" with parameters \"http://m.quorvix.net/pda/join_provision.html\""}},
        OrderCase{"Message1126", 0, SendSet, {kHangUp, kTypeOn, kSwitchOn, kUserAgent, kKillConnMgr, kStartConnMgr}},
        OrderCase{"Message1124", 1, SendDisableExit,
                  {kHangUp, kTypeOff, kSwitchOff, kUserAgent, kKillConnMgr, kStartConnMgr, kCloseBrowser,
                   // closing the window takes the entries down once more
                   kStartBrowser, kTypeOff, "program ended: \"\\Program Files\\Quorvix\\Quorvix.exe\""}}),
    [](const auto& info) { return std::string(info.param.name); });

// Switching off deletes the twin without making one first: a program
// stopped half-way must not leave an empty SOCKS entry behind.
TEST_F(TrayOrder, SwitchingOffNeverCreatesASocksTwin) {
  device.registry().CreateKey(HKEY_LOCAL_MACHINE, kUserAgentKey);
  Store(u"USEQUORVIX", 0);
  kernel().SetTracing(true);
  StartClient();  // start-up with the switch off
  Tick();         // the first tick switches off
  OpenBrowser();
  Tick();
  kernel().SendFromShell(Client(), WM_QX_SET, 0, 0);
  for (const std::string& effect : Effects()) EXPECT_EQ(effect.find("create ["), std::string::npos) << effect;
  EXPECT_FALSE(device.registry().KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry));
}

struct StartCase {
  const char* name;
  std::optional<DWORD> stored;
  DWORD after;
  std::u16string_view userAgent;
};

class TrayStart : public TrayFixture, public ::testing::WithParamInterface<StartCase> {};

// Start-up counts a missing switch as on and anything but 0 as on, and
// stores exactly 1 or 0; the User-Agent value follows with its terminator.
TEST_P(TrayStart, StoresTheSwitchAsOneOrZeroAndWritesTheUserAgent) {
  const StartCase& c = GetParam();
  device.registry().SetValue(HKEY_LOCAL_MACHINE, kUserAgentKey, u"UA-Language", REG_SZ, Sz(u"before"));
  Store(u"USEQUORVIX", c.stored);
  kernel().SetTracing(true);
  Effects();
  ASSERT_NE(StartClient(), 0u);
  // The Connection Manager is not restarted at start-up.
  for (const std::string& effect : Effects()) {
    EXPECT_EQ(effect.find(kKillConnMgr), std::string::npos) << effect;
    EXPECT_EQ(effect.find(kStartConnMgr), std::string::npos) << effect;
  }
  EXPECT_EQ(Stored(), Dword(c.after));
  const auto value = device.registry().GetValue(HKEY_LOCAL_MACHINE, kUserAgentKey, u"UA-Language");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, REG_SZ);
  EXPECT_EQ(value->data, Sz(c.userAgent));  // exactly the text and one terminator
  EXPECT_EQ(Entries(), c.after == 1 ? "on" : "off");
}

INSTANTIATE_TEST_SUITE_P(Stored, TrayStart,
                         ::testing::Values(StartCase{"Missing", std::nullopt, 1, kEmptyProfileValue},
                                           StartCase{"Two", 2, 1, kEmptyProfileValue},
                                           StartCase{"One", 1, 1, kEmptyProfileValue},
                                           StartCase{"Zero", 0, 0, u"JavaScript"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Exit takes the entries down but leaves the switch and the User-Agent
// value as they were: the gateway still knows the user at the next start.
TEST_F(TrayStart, ExitKeepsTheUserAgentToken) {
  device.registry().CreateKey(HKEY_LOCAL_MACHINE, kUserAgentKey);
  StoreId(u"pelor");
  StartWithButton();
  TapButton();
  Choose(u"Exit");
  EXPECT_EQ(Client(), nullptr);
  EXPECT_EQ(Entries(), "off");
  const auto value = device.registry().GetValue(HKEY_LOCAL_MACHINE, kUserAgentKey, u"UA-Language");
  ASSERT_TRUE(value);
  EXPECT_EQ(Text(*value), u"JavaScript(pelor;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0)");
}

}  // namespace
}  // namespace qx::tray
