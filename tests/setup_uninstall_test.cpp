// The setup extension's uninstall hooks on the simulated handheld: the open
// commands given back to the player, the install record removed or cleared,
// the browser's User-Agent value reset, a running client stopped.
#include "tests/setup_fixture.h"

namespace qx::setup {
namespace {

constexpr std::u16string_view kSavedPlayer = u"\"\\Windows\\wmplayer.exe\" \"%1\"";
constexpr std::u16string_view kGatewayUserAgent = u"JavaScript(;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0)";

class Uninstall : public SetupHooks {
 protected:
  // The device as a completed install and a client run leave it: the open
  // commands start the launcher, the browser carries the gateway token.
  void Installed(std::optional<DWORD> dllFlag, std::optional<std::u16string_view> wmpPath) {
    auto& reg = registry();
    reg.SetValue(HKEY_CURRENT_USER, kSettingsKey, u"qx_install_path", REG_SZ, Sz(kInstallDir, 260));
    reg.SetValue(HKEY_CURRENT_USER, kSettingsKey, u"qx_installed", REG_DWORD, Dword(1));
    if (wmpPath) reg.SetValue(HKEY_CURRENT_USER, kSettingsKey, u"wmp_path", REG_SZ, Sz(*wmpPath, 260));
    if (dllFlag) reg.SetValue(HKEY_CURRENT_USER, kSettingsKey, u"qxdll_installed", REG_DWORD, Dword(*dllFlag));
    reg.SetValue(HKEY_CURRENT_USER, kProfileKey, u"USEQUORVIX", REG_DWORD, Dword(1));
    PointCommandsAtLauncher();
    reg.SetValue(HKEY_LOCAL_MACHINE, kUserAgentKey, u"UA-Language", REG_SZ, Sz(kGatewayUserAgent));
  }
  void PointCommandsAtLauncher() {
    for (auto key : kStreamingOpenCommandKeys) {
      registry().SetValue(HKEY_CLASSES_ROOT, key, u"", REG_SZ, Sz(kLauncherCommand, 260));
    }
  }
  // The open commands from..to-1 hold expected.
  void ExpectCommands(std::size_t from, std::size_t to, const Data& expected) {
    for (std::size_t i = from; i < to; ++i) {
      EXPECT_EQ(Got(HKEY_CLASSES_ROOT, kStreamingOpenCommandKeys[i], u""), expected) << i;
    }
  }
  Data UserAgent() { return Got(HKEY_LOCAL_MACHINE, kUserAgentKey, u"UA-Language"); }
  int UninstallInit() { return CPranset(device().platform()).Uninstall_Init(nullptr, kInstallDir); }
};

const Data kPlainUserAgent = Str(u"JavaScript", 256);

TEST_F(Uninstall, TheDllFlagDecidesBetweenRemovingAndClearingTheRecord) {
  struct Case {
    std::optional<DWORD> dllFlag;
    std::optional<std::u16string_view> wmpPath;
    std::optional<std::u16string_view> restored;  // nullopt: the record is kept and the rest untouched
  };
  const Case cases[] = {
      {std::nullopt, kSavedPlayer, kSavedPlayer},
      {0, kSavedPlayer, kSavedPlayer},
      {std::nullopt, u"", u"wmplayer.exe %1"},
      {0, std::nullopt, u"wmplayer.exe %1"},
      {1, kSavedPlayer, std::nullopt},
      {2, u"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("qxdll_installed " + (c.dllFlag ? std::to_string(*c.dllFlag) : std::string("absent")) +
                 ", wmp_path " + (c.wmpPath ? "\"" + sim::Utf8(*c.wmpPath) + "\"" : std::string("absent")));
    Fresh();
    Installed(c.dllFlag, c.wmpPath);
    EXPECT_EQ(UninstallInit(), codeUNINSTALL_INIT_CONTINUE);
    if (c.restored) {
      ExpectCommands(0, 7, Str(*c.restored, 260));
      EXPECT_FALSE(registry().KeyExists(HKEY_CURRENT_USER, kSettingsKey));
      EXPECT_TRUE(registry().KeyExists(HKEY_CURRENT_USER, u"Software\\Brennic Inc"));
      EXPECT_EQ(UserAgent(), kPlainUserAgent);
    } else {
      ExpectCommands(0, 7, Str(kLauncherCommand, 260));
      EXPECT_EQ(Got(HKEY_CURRENT_USER, kSettingsKey, u"qx_install_path"), Str(u"", 260));
      EXPECT_EQ(Got(HKEY_CURRENT_USER, kSettingsKey, u"qx_installed"), Num(0));
      EXPECT_EQ(Got(HKEY_CURRENT_USER, kSettingsKey, u"wmp_path"), Str(*c.wmpPath, 260));
      EXPECT_EQ(Got(HKEY_CURRENT_USER, kSettingsKey, u"qxdll_installed"), Num(*c.dllFlag));
      EXPECT_EQ(Got(HKEY_CURRENT_USER, kProfileKey, u"USEQUORVIX"), Num(1));
      EXPECT_EQ(UserAgent(), Str(kGatewayUserAgent));
    }
    EXPECT_EQ(device().OpenHandles(), 0u);
  }
}

TEST_F(Uninstall, AMissingCommandKeyStopsTheRestoreThereAndTheRestGoesOn) {
  Installed(std::nullopt, kSavedPlayer);
  registry().DeleteKey(HKEY_CLASSES_ROOT, kStreamingOpenCommandKeys[3]);
  EXPECT_EQ(UninstallInit(), codeUNINSTALL_INIT_CONTINUE);
  ExpectCommands(0, 3, Str(kSavedPlayer, 260));
  EXPECT_FALSE(registry().KeyExists(HKEY_CLASSES_ROOT, kStreamingOpenCommandKeys[3]));
  ExpectCommands(4, 7, Str(kLauncherCommand, 260));
  EXPECT_FALSE(registry().KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_EQ(UserAgent(), kPlainUserAgent);
  EXPECT_EQ(device().OpenHandles(), 0u);
}

TEST_F(Uninstall, ASecondUninstallRestoresNothingButStillResetsTheUserAgent) {
  Installed(std::nullopt, kSavedPlayer);
  ASSERT_EQ(UninstallInit(), codeUNINSTALL_INIT_CONTINUE);
  PointCommandsAtLauncher();
  registry().SetValue(HKEY_LOCAL_MACHINE, kUserAgentKey, u"UA-Language", REG_SZ, Sz(kGatewayUserAgent));
  EXPECT_EQ(UninstallInit(), codeUNINSTALL_INIT_CONTINUE);
  ExpectCommands(0, 7, Str(kLauncherCommand, 260));
  EXPECT_FALSE(registry().KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_EQ(UserAgent(), kPlainUserAgent);
  EXPECT_EQ(device().OpenHandles(), 0u);
}

TEST_F(Uninstall, WithoutTheUserAgentKeyNothingIsWrittenThere) {
  Installed(std::nullopt, kSavedPlayer);
  registry().DeleteKey(HKEY_LOCAL_MACHINE, kUserAgentKey);
  const auto machineBefore = registry().Image().roots[2];
  EXPECT_EQ(UninstallInit(), codeUNINSTALL_INIT_CONTINUE);
  EXPECT_EQ(registry().Image().roots[2], machineBefore);
  ExpectCommands(0, 7, Str(kSavedPlayer, 260));
  EXPECT_EQ(device().OpenHandles(), 0u);
}

TEST_F(Uninstall, ARunningClientIsSwitchedOffThenTerminated) {
  Installed(std::nullopt, kSavedPlayer);
  const DWORD client = kernel().StartProgram(kClientPath, u"");
  OpenBrowser();
  kernel().AdvanceTime(400);
  ASSERT_TRUE(Running(client));
  Forget();

  Installer([this](CPranset& pranset) {
    codes.push_back(pranset.Uninstall_Init(nullptr, kInstallDir));
    codes.push_back(pranset.Uninstall_Exit(nullptr));
  });

  EXPECT_EQ(codes, (std::vector<int>{codeUNINSTALL_INIT_CONTINUE, codeUNINSTALL_EXIT_DONE}));
  const auto effects = Effects();
  const auto switchedOff = At(effects, "process terminated: \"connmgr.exe\"");
  EXPECT_LT(At(effects, "window closed: \"Internet Explorer\" (IExplore"), At(effects, "the browser opens"));
  EXPECT_LT(switchedOff, At(effects, "process terminated: \"\\Program Files\\Quorvix\\Quorvix2003.exe\" (process " +
                                         std::to_string(client) + ", exit code -1)"));
  EXPECT_FALSE(Running(client));
  EXPECT_EQ(Got(HKEY_LOCAL_MACHINE, kHttpEntry, u"Type"), Num(0));
  EXPECT_EQ(Got(HKEY_LOCAL_MACHINE, kHttpEntry, u"Proxy"), Str(u"wap.mobilenet.co.kr:1159"));
  EXPECT_FALSE(registry().KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry));
  ExpectCommands(0, 7, Str(kSavedPlayer, 260));
  EXPECT_FALSE(registry().KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_EQ(UserAgent(), kPlainUserAgent);
  EXPECT_EQ(device().OpenHandles(), 0u);
}

TEST_F(Uninstall, UninstallExitDoesNothing) {
  Installed(std::nullopt, kSavedPlayer);
  const auto registryBefore = registry().Image();
  const auto callsBefore = device().ledger().Total();
  EXPECT_EQ(CPranset(device().platform()).Uninstall_Exit(nullptr), codeUNINSTALL_EXIT_DONE);
  EXPECT_EQ(device().ledger().Total(), callsBefore);
  EXPECT_EQ(registry().Image(), registryBefore);
  EXPECT_TRUE(Effects().empty());
}

}  // namespace
}  // namespace qx::setup
