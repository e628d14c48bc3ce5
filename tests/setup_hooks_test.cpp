// The setup extension's install hooks and the two client-stopping operations
// they share with the uninstall, on the simulated handheld: which process
// and which window they stop, what they record, what the user is told.
#include "tests/setup_fixture.h"

namespace qx::setup {
namespace {

using Kind = sim::Effect::Kind;

// ---- TerminateClientProcess -------------------------------------------------------

TEST_F(SetupHooks, TerminatesOnlyTheFirstProcessNamedLikeTheClient) {
  struct Case {
    std::vector<std::u16string_view> images;
    std::vector<bool> terminated;
  };
  const Case cases[] = {
      {{kClientPath, kClientPath}, {true, false}},
      {{u"Quorvix2003.exe"}, {true}},
      {{u"quorvix2003.exe", u"QUORVIX2003.EXE", u"Quorvix2003.exe.tmp", u"Quorvix.exe", u"\\Quorvix2003.exe\\a.exe"},
       {false, false, false, false, false}},
      {{u"quorvix2003.exe", u"\\Windows\\Quorvix2003.exe", kClientPath}, {false, true, false}},
  };
  for (const Case& c : cases) {
    Fresh();
    std::vector<DWORD> ids;
    for (auto image : c.images) ids.push_back(kernel().AddWorldProcess(image));
    CPranset(device().platform()).TerminateClientProcess();
    for (std::size_t i = 0; i < ids.size(); ++i) {
      EXPECT_EQ(Running(ids[i]), !c.terminated[i]) << sim::Utf8(c.images[i]) << " #" << i;
    }
    EXPECT_TRUE(Effects(Kind::MessageBox).empty());
    EXPECT_EQ(device().OpenHandles(), 0u);
  }
}

TEST_F(SetupHooks, AFailingProcessListOrTerminationIsSilentAndStopsAtTheFirstMatch) {
  for (const sim::Call call : {sim::Call::CreateToolhelp32Snapshot, sim::Call::Process32FirstW,
                               sim::Call::OpenProcess, sim::Call::TerminateProcess}) {
    SCOPED_TRACE(std::string(sim::CallName(call)));
    Fresh();
    const DWORD first = kernel().AddWorldProcess(kClientPath);
    const DWORD second = kernel().AddWorldProcess(kClientPath);
    device().ledger().Plan({call});
    CPranset(device().platform()).TerminateClientProcess();
    EXPECT_TRUE(Running(first));
    EXPECT_TRUE(Running(second));
    EXPECT_TRUE(Effects(Kind::MessageBox).empty());
    EXPECT_EQ(device().OpenHandles(), 0u);
  }
}

TEST_F(SetupHooks, WithoutToolhelpTheUserIsToldOnceAndTheInstallGoesOn) {
  const DWORD client = kernel().AddWorldProcess(kClientPath);
  OpenProbe(u"  ");
  kernel().SetToolhelpPresent(false);
  Installer([this](CPranset& pranset) { codes.push_back(pranset.Install_Init(nullptr, TRUE, FALSE, kInstallDir)); });
  ASSERT_TRUE(kernel().BoxOpen());
  std::string why;
  EXPECT_TRUE(kernel().Answer(IDOK, &why)) << why;
  EXPECT_EQ(Effects(Kind::MessageBox),
            std::vector<std::string>{"message box \"TrayTaskList\": \"Toolhelp.dll not found\" [OK] (no owner)"});
  EXPECT_EQ(device().ledger().Count(sim::Call::CreateToolhelp32Snapshot), 0u);
  EXPECT_TRUE(Running(client));
  EXPECT_EQ(received, std::vector<std::u16string>{u"  "});
  EXPECT_EQ(codes, std::vector<int>{codeINSTALL_INIT_CONTINUE});
  EXPECT_EQ(device().OpenHandles(), 0u);
}

// ---- SendClientShutdown -------------------------------------------------------------

TEST_F(SetupHooks, ShutdownGoesToAHiddenClientFirstAndToTheLastMatchOfAPass) {
  struct Case {
    std::vector<std::u16string_view> titles;  // opened in this order: the last one ends up in front
    int receiver;                             // index into titles; -1: nobody
  };
  const Case cases[] = {
      {{u"Internet Explorer", u"  "}, 1},
      {{u"  ", u"Internet Explorer"}, 0},
      {{u"  ", u"Notes  1"}, 0},
      {{u"Notes  1", u"  "}, 0},
      {{u"Internet Explorer", u"About Internet Explorer"}, 0},
      {{u"Internet explorer", u" ", u"Notes"}, -1},
      {{}, -1},
  };
  for (const Case& c : cases) {
    Fresh();
    for (auto title : c.titles) OpenProbe(title);
    Installer([this](CPranset& pranset) { codes.push_back(pranset.SendClientShutdown()); });
    const std::string trace = "case with " + std::to_string(c.titles.size()) + " windows, receiver " +
                              std::to_string(c.receiver);
    EXPECT_EQ(codes, std::vector<int>{c.receiver >= 0 ? TRUE : FALSE}) << trace;
    EXPECT_EQ(received, c.receiver >= 0 ? std::vector<std::u16string>{std::u16string(c.titles[c.receiver])}
                                        : std::vector<std::u16string>{})
        << trace;
  }
}

TEST_F(SetupHooks, ShutdownMatchesClassAndTitleByCaseSensitiveParts) {
  struct Case {
    std::u16string className;
    std::u16string title;
    BOOL found;
  };
  const Case cases[] = {
      {u"Dialog", u"  ", TRUE},
      {u"MyDialogFrame", u"Notes  ", TRUE},
      {u"dialog", u"  ", FALSE},
      {u"DIALOG", u"Internet Explorer", FALSE},
      {u"Dialog", u" ", FALSE},
      {u"Dialog", u"Pocket Internet Explorer", TRUE},
      {u"Dialog", u"internet explorer", FALSE},
      {u"IExplore", u"Internet Explorer", FALSE},
      // Class names are read to 30 characters and titles to 120.
      {std::u16string(24, u'x') + u"Dialog", u"  ", TRUE},
      {std::u16string(25, u'x') + u"Dialog", u"  ", FALSE},
      {u"Dialog", std::u16string(118, u'x') + u"  ", TRUE},
      {u"Dialog", std::u16string(119, u'x') + u"  ", FALSE},
      {u"Dialog", std::u16string(103, u'x') + u"Internet Explorer", TRUE},
      {u"Dialog", std::u16string(104, u'x') + u"Internet Explorer", FALSE},
  };
  for (const Case& c : cases) {
    Fresh();
    kernel().OpenWorldWindow(u"other.exe", c.className, c.title, {0, 26, 240, 294});
    EXPECT_EQ(CPranset(device().platform()).SendClientShutdown(), c.found)
        << sim::Utf8(c.className) << " \"" << sim::Utf8(c.title) << "\"";
  }
}

// ---- Install_Init ---------------------------------------------------------------------

TEST_F(SetupHooks, InstallInitWithoutAClientDoesNothingAndContinues) {
  EXPECT_EQ(CPranset(device().platform()).Install_Init(nullptr, FALSE, TRUE, kInstallDir), codeINSTALL_INIT_CONTINUE);
  EXPECT_TRUE(kernel().TakeEffects().empty());
  EXPECT_EQ(device().ledger().Count(sim::Call::SendMessageW), 0u);
}

TEST_F(SetupHooks, InstallInitTerminatesTheFirstClientAndSwitchesTheOtherOff) {
  const DWORD first = kernel().StartProgram(kClientPath, u"");
  const DWORD second = kernel().StartProgram(kClientPath, u"");
  OpenBrowser();
  kernel().AdvanceTime(400);
  ASSERT_EQ(Got(HKEY_CURRENT_USER, kProfileKey, u"USEQUORVIX"), Num(1));
  Forget();

  Installer([this](CPranset& pranset) { codes.push_back(pranset.Install_Init(nullptr, TRUE, FALSE, kInstallDir)); });

  EXPECT_EQ(codes, std::vector<int>{codeINSTALL_INIT_CONTINUE});
  const auto effects = Effects();
  const auto killedFirst = At(effects, "process terminated: \"\\Program Files\\Quorvix\\Quorvix2003.exe\" (process " +
                                           std::to_string(first) + ", exit code -1)");
  const auto restarted = At(effects, "process terminated: \"connmgr.exe\" (process");
  EXPECT_LT(killedFirst, restarted);
  EXPECT_LT(restarted, At(effects, "start \"connmgr.exe\""));
  EXPECT_LT(At(effects, "window closed: \"Internet Explorer\" (IExplore"), At(effects, "the browser opens"));
  EXPECT_LT(restarted, At(effects, "program ended: \"\\Program Files\\Quorvix\\Quorvix2003.exe\" (process " +
                                       std::to_string(second) + ")"));
  EXPECT_FALSE(Running(first));
  EXPECT_FALSE(Running(second));
  EXPECT_EQ(Got(HKEY_CURRENT_USER, kProfileKey, u"USEQUORVIX"), Num(0));
  EXPECT_EQ(Got(HKEY_LOCAL_MACHINE, kHttpEntry, u"Type"), Num(0));
  EXPECT_EQ(Got(HKEY_LOCAL_MACHINE, kHttpEntry, u"Proxy"), Str(u"wap.mobilenet.co.kr:1159"));
  EXPECT_FALSE(registry().KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry));
  EXPECT_EQ(Got(HKEY_LOCAL_MACHINE, kUserAgentKey, u"UA-Language"), Str(u"JavaScript"));
  EXPECT_EQ(device().OpenHandles(), 0u);
}

// ---- Install_Exit ---------------------------------------------------------------------

TEST_F(SetupHooks, InstallExitRecordsTheInstallAndThePlayerCommand) {
  // A directory that does not fit the record's 129 characters is left out.
  const std::u16string fits = u"\\" + std::u16string(128, u'q');
  const std::u16string tooLong = fits + u"q";
  constexpr std::u16string_view kOtherCase = u"\"\\Program Files\\Quorvix\\STV.exe\" \"%1\"";
  struct Case {
    std::u16string_view dir;
    bool commandKey;
    std::optional<std::u16string_view> command;  // the key's default value
    std::optional<std::u16string_view> saved;    // wmp_path; nullopt: not written
  };
  const Case cases[] = {
      {kInstallDir, true, kDevicePlayer, kDevicePlayer},
      {kInstallDir, true, kLauncherCommand, u"wmplayer.exe %1"},
      {kInstallDir, true, kOtherCase, kOtherCase},
      {kInstallDir, true, u"", u""},
      {kInstallDir, true, std::nullopt, u""},
      {kInstallDir, false, std::nullopt, std::nullopt},
      {fits, true, kDevicePlayer, kDevicePlayer},
      {tooLong, true, kDevicePlayer, kDevicePlayer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::Utf8(c.dir) + ", " + sim::Utf8(c.command.value_or(c.commandKey ? u"(no value)" : u"(no key)")));
    Fresh();
    registry().CreateKey(HKEY_CURRENT_USER, kSettingsKey);
    registry().DeleteKey(HKEY_CLASSES_ROOT, u"MMS");
    if (c.commandKey) registry().CreateKey(HKEY_CLASSES_ROOT, kStreamingOpenCommandKeys[0]);
    if (c.command) registry().SetValue(HKEY_CLASSES_ROOT, kStreamingOpenCommandKeys[0], u"", REG_SZ, Sz(*c.command));
    const auto classesBefore = registry().Image().roots[0];

    EXPECT_EQ(CPranset(device().platform()).Install_Exit(nullptr, c.dir, 1, 2, 3, 4, 5), codeINSTALL_EXIT_DONE);

    EXPECT_EQ(Got(HKEY_CURRENT_USER, kSettingsKey, u"qx_install_path"),
              c.dir.size() <= 129 ? Str(c.dir, 260) : std::nullopt);
    EXPECT_EQ(Got(HKEY_CURRENT_USER, kSettingsKey, u"qx_installed"), Num(1));
    EXPECT_EQ(Got(HKEY_CURRENT_USER, kSettingsKey, u"wmp_path"), c.saved ? Str(*c.saved, 260) : std::nullopt);
    // The install leaves every open command to the client.
    EXPECT_EQ(registry().Image().roots[0], classesBefore);
    EXPECT_EQ(Effects(Kind::MessageBox).size(), 1u);
    EXPECT_EQ(Effects(Kind::SoftReset).size(), 1u);
    EXPECT_EQ(device().OpenHandles(), 0u);
  }
}

TEST_F(SetupHooks, InstallExitWithoutTheSettingsKeyRecordsNothingButStillResets) {
  const auto before = registry().Image();
  EXPECT_EQ(CPranset(device().platform()).Install_Exit(nullptr, kInstallDir, 0, 0, 0, 0, 0), codeINSTALL_EXIT_DONE);
  EXPECT_EQ(registry().Image(), before);
  EXPECT_EQ(Effects(Kind::MessageBox).size(), 1u);
  EXPECT_EQ(Effects(Kind::SoftReset).size(), 1u);
  EXPECT_EQ(device().OpenHandles(), 0u);
}

TEST_F(SetupHooks, InstallExitTellsTheUserThenResetsTheDevice) {
  registry().CreateKey(HKEY_CURRENT_USER, kSettingsKey);
  kernel().StartProgram(kClientPath, u"");
  const HWND installer = kernel().OpenWorldWindow(u"wceload.exe", u"Installer", u"Installing", {0, 26, 240, 294});
  Forget();
  Installer([this, installer](CPranset& pranset) {
    codes.push_back(pranset.Install_Exit(installer, kInstallDir, 0, 0, 0, 0, 0));
  });

  ASSERT_TRUE(kernel().BoxOpen());
  const auto box = kernel().TopLevelWindows().front();
  EXPECT_EQ(box.className, u"Dialog");
  EXPECT_EQ(box.title, u"Quorvix Client Setup");
  EXPECT_EQ(box.parent, installer);
  EXPECT_EQ(Effects(Kind::MessageBox),
            std::vector<std::string>{"message box \"Quorvix Client Setup\": \"프로그램 설치가 완료되었습니다. / "
                                     "프로그램 설정을 완료하기 위해 소프트리셋합니다. / 리셋 후 Pocket IE를 "
                                     "실행하여 Quorvix 설정 값을 변경하십시오.\" [OK]"});
  std::string why;
  EXPECT_FALSE(kernel().Answer(IDCANCEL, &why));
  EXPECT_TRUE(Effects(Kind::SoftReset).empty());  // not before the user has read the box

  EXPECT_TRUE(kernel().Answer(IDOK, &why)) << why;
  EXPECT_EQ(Effects(Kind::SoftReset).size(), 1u);
  for (const auto& process : kernel().Processes()) EXPECT_FALSE(process.program) << sim::Utf8(process.image);
  EXPECT_TRUE(codes.empty());  // a reset does not come back
  EXPECT_EQ(Got(HKEY_CURRENT_USER, kSettingsKey, u"qx_installed"), Num(1));
  EXPECT_EQ(device().OpenHandles(), 0u);
}

}  // namespace
}  // namespace qx::setup
