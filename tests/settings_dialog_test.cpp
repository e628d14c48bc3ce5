// The Settings dialog run by a program on the simulated device and driven by
// taps, typing and answers, as a user would; the profile it leaves in the
// registry and the browser window it locks.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "client/password.h"
#include "client/settings_dlg.h"
#include "platform/sim/sim.h"
#include "platform/sim/text.h"
#include "tests/test_bytes.h"

namespace qx {
namespace {

using namespace qx::testing_bytes;

constexpr std::u16string_view kProgramPath = u"\\Program Files\\Quorvix\\settings.exe";
constexpr std::u16string_view kProfileKey = u"Software\\Brennic Inc\\Quorvix\\Quorvix";

// Controls, by the ids the dialog template gives them.
constexpr int kUseGateway = 1013;
constexpr int kId = 1003;
constexpr int kPassword = 1012;
constexpr int kDoc = 1008;
constexpr int kNavi = 1014;
constexpr int kShowImage = 1009;
constexpr int kBooster = 1010;
constexpr int kLevel = 1011;
constexpr int kJoin = 3;
constexpr int kOk = 1;
constexpr int kCancel = 2;

const std::string kBoosterBox =
    "message box \"Quorvix\": \"Image Booster를 사용할 경우 이미지의 크기가 변경될 수 있습니다.\" [OK]";
const std::string kJoinBox =
    "message box \"Quorvix\": \"가입 페이지로 이동하시면 현재 설정창은 자동으로 닫힙니다. 가입 페이지로 이동 "
    "하시겠습니까 ?\" [Yes, No]";

class CTestApp : public CWinApp {
 public:
  using CWinApp::CWinApp;
  BOOL InitInstance() override { return FALSE; }
};

// One device with a program that runs the dialog once, and the user in
// front of it.
class SettingsRun {
 public:
  SettingsRun() {
    kernel().InstallProgram(kProgramPath, {[this](Platform& platform, std::u16string_view) {
                                             CTestApp app(platform, u"Quorvix");
                                             app.SetRegistryKey(u"Brennic Inc");
                                             CSettingsDlg dlg(app);
                                             result = dlg.DoModal();
                                             join = dlg.m_bJoin;
                                             return 0;
                                           },
                                           {}});
  }

  sim::Kernel& kernel() { return device.kernel(); }

  void StoreDword(std::u16string_view name, DWORD value) {
    device.registry().SetValue(HKEY_CURRENT_USER, kProfileKey, name, REG_DWORD, Dword(value));
  }
  void StoreString(std::u16string_view name, std::u16string_view text) {
    device.registry().SetValue(HKEY_CURRENT_USER, kProfileKey, name, REG_SZ, Sz(text));
  }
  std::optional<sim::RegValue> Stored(std::u16string_view name) {
    return device.registry().GetValue(HKEY_CURRENT_USER, kProfileKey, name);
  }
  // The stored bytes; none when the value is absent.
  std::vector<BYTE> Data(std::u16string_view name) {
    const auto value = Stored(name);
    return value ? value->data : std::vector<BYTE>{};
  }
  std::vector<std::u16string> StoredNames() {
    std::vector<std::u16string> names;
    for (const sim::RegValue& value : device.registry().Values(HKEY_CURRENT_USER, kProfileKey)) {
      names.push_back(value.name);
    }
    return names;
  }

  // Opens the browser (unless told not to), then the dialog.
  void Open(bool withBrowser = true) {
    if (withBrowser) {
      browser = kernel().OpenWorldWindow(u"iexplore.exe", u"IExplore", u"Internet Explorer", {0, 26, 240, 294});
    }
    ASSERT_NE(kernel().StartProgram(kProgramPath, u""), 0u);
    for (const sim::WindowInfo& window : kernel().TopLevelWindows()) {
      if (window.className == u"Dialog" && window.title == u"Settings") dialog = window.hwnd;
    }
    ASSERT_NE(dialog, nullptr) << "the dialog did not open";
    kernel().TakeEffects();
  }

  bool DialogOpen() { return kernel().Describe(dialog).has_value(); }
  bool BrowserEnabled() { return kernel().Describe(browser).value().enabled; }

  HWND Control(int id) {
    for (const sim::WindowInfo& child : kernel().Children(dialog)) {
      if (child.id == id) return child.hwnd;
    }
    ADD_FAILURE() << "no control " << id;
    return nullptr;
  }
  sim::WindowInfo Info(int id) { return kernel().Describe(Control(id)).value_or(sim::WindowInfo{}); }

  void Click(int id) {
    std::string why;
    ASSERT_TRUE(kernel().Click(Control(id), &why)) << why;
  }
  void Type(int id, std::u16string_view text) {
    std::string why;
    ASSERT_TRUE(kernel().TypeText(Control(id), text, &why)) << why;
  }
  void Select(int id, int index) {
    std::string why;
    ASSERT_TRUE(kernel().SelectItem(Control(id), index, &why)) << why;
  }
  void Answer(int button) {
    ASSERT_TRUE(kernel().BoxOpen()) << "no message box is open";
    std::string why;
    ASSERT_TRUE(kernel().Answer(button, &why)) << why;
  }
  // The message boxes shown since the last look.
  std::vector<std::string> Boxes() {
    std::vector<std::string> boxes;
    for (const sim::Effect& effect : kernel().TakeEffects()) {
      if (effect.kind == sim::Effect::Kind::MessageBox) boxes.push_back(effect.text);
    }
    return boxes;
  }

  // What the user sees of every control.
  struct Look {
    int id;
    bool enabled;
    bool checked;
    std::u16string text;
    int selection;
    friend bool operator==(const Look&, const Look&) = default;
  };
  std::vector<Look> Looks() {
    std::vector<Look> looks;
    for (const sim::WindowInfo& child : kernel().Children(dialog)) {
      looks.push_back({child.id, child.enabled, child.checked, child.title, child.selection});
    }
    return looks;
  }

  // Written by the program when the dialog has returned.
  std::optional<INT_PTR> result;
  BOOL join = FALSE;
  HWND browser = nullptr;
  HWND dialog = nullptr;
  // Last: the device stops the program before the fields above go away.
  sim::SimDevice device;
};

struct ControlState {
  int id;
  bool checked;
  bool enabled;
};

void ExpectStates(SettingsRun& run, std::initializer_list<ControlState> states) {
  for (const ControlState& state : states) {
    const sim::WindowInfo info = run.Info(state.id);
    EXPECT_EQ(info.checked, state.checked) << "control " << state.id;
    EXPECT_EQ(info.enabled, state.enabled) << "control " << state.id;
  }
}

// ---- Showing the profile ---------------------------------------------------------

TEST(SettingsDialog, AbsentProfileShowsDefaultsWithEverythingDisabled) {
  SettingsRun run;
  ASSERT_NO_FATAL_FAILURE(run.Open());
  ExpectStates(run, {{kUseGateway, false, true},
                     {kDoc, true, false},
                     {kNavi, true, false},
                     {kShowImage, true, false},
                     {kBooster, false, false},
                     {kJoin, false, true},
                     {kOk, false, true},
                     {kCancel, false, true}});
  for (int field : {kId, kPassword}) {
    EXPECT_EQ(run.Info(field).title, u"") << field;
    EXPECT_FALSE(run.Info(field).enabled) << field;
  }
  const sim::WindowInfo level = run.Info(kLevel);
  EXPECT_FALSE(level.enabled);
  ASSERT_EQ(level.selection, 2);
  EXPECT_EQ(level.items.at(2), u"High (Default)");

  EXPECT_FALSE(run.BrowserEnabled()) << "the browser stays locked while the dialog is open";
  EXPECT_FALSE(run.kernel().Describe(run.dialog)->commandBarShown);
  EXPECT_TRUE(run.StoredNames().empty()) << "showing the dialog writes nothing";
}

TEST(SettingsDialog, FlagsShowCheckedExactlyWhenOne) {
  struct Case {
    std::u16string_view name;
    int control;
  };
  const Case cases[] = {{u"USEQUORVIX", kUseGateway}, {u"DOC", kDoc},         {u"USENAVI", kNavi},
                        {u"USEIMG", kShowImage},      {u"IMGBOOSTER", kBooster}};
  for (const Case& c : cases) {
    for (DWORD stored : {0u, 1u, 2u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(testing::Message() << "control " << c.control << " stored " << stored);
      SettingsRun run;
      run.StoreDword(c.name, stored);
      ASSERT_NO_FATAL_FAILURE(run.Open());
      EXPECT_EQ(run.Info(c.control).checked, stored == 1);
    }
  }
}

TEST(SettingsDialog, StoredLevelIsSelectedUnchangedAndUnknownLevelsSelectNothing) {
  const std::pair<DWORD, int> cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, -1}, {5, -1}, {0xFFFFFFFF, -1}};
  for (const auto& [stored, shown] : cases) {
    SCOPED_TRACE(testing::Message() << "stored " << stored);
    SettingsRun run;
    run.StoreDword(u"IMGLEVEL", stored);
    ASSERT_NO_FATAL_FAILURE(run.Open());
    EXPECT_EQ(run.Info(kLevel).selection, shown);
    ASSERT_NO_FATAL_FAILURE(run.Click(kOk));
    // Without a selection the list gives -1, and that is stored.
    EXPECT_EQ(run.Data(u"IMGLEVEL"), Dword(static_cast<DWORD>(shown)));
  }
}

// ---- Enabling --------------------------------------------------------------------

TEST(SettingsDialog, UseQuorvixEnablesFieldsAndImageOptionsOnlyWithShowImage) {
  for (DWORD showImage : {1u, 0u}) {
    SCOPED_TRACE(testing::Message() << "USEIMG " << showImage);
    SettingsRun run;
    run.StoreDword(u"USEIMG", showImage);
    run.StoreDword(u"IMGBOOSTER", 1);
    ASSERT_NO_FATAL_FAILURE(run.Open());
    ASSERT_NO_FATAL_FAILURE(run.Click(kUseGateway));
    for (int id : {kId, kPassword, kDoc, kNavi, kShowImage}) EXPECT_TRUE(run.Info(id).enabled) << id;
    for (int id : {kBooster, kLevel}) EXPECT_EQ(run.Info(id).enabled, showImage == 1) << id;

    ASSERT_NO_FATAL_FAILURE(run.Click(kUseGateway));
    for (int id : {kId, kPassword, kDoc, kNavi, kShowImage, kBooster, kLevel}) {
      EXPECT_FALSE(run.Info(id).enabled) << id;
    }
    for (int id : {kJoin, kOk, kCancel}) EXPECT_TRUE(run.Info(id).enabled) << id;
    EXPECT_TRUE(run.Info(kBooster).checked) << "disabling keeps the states";
    EXPECT_TRUE(run.Boxes().empty());
  }
}

TEST(SettingsDialog, ShowImageSwitchesBoosterAndLevelButKeepsAndSavesTheirStates) {
  SettingsRun run;
  run.StoreDword(u"USEQUORVIX", 1);
  run.StoreDword(u"IMGBOOSTER", 1);
  run.StoreDword(u"IMGLEVEL", 0);
  ASSERT_NO_FATAL_FAILURE(run.Open());
  ExpectStates(run, {{kShowImage, true, true}, {kBooster, true, true}});

  ASSERT_NO_FATAL_FAILURE(run.Click(kShowImage));
  ExpectStates(run, {{kShowImage, false, true}, {kBooster, true, false}});
  EXPECT_FALSE(run.Info(kLevel).enabled);
  EXPECT_EQ(run.Info(kLevel).selection, 0);

  ASSERT_NO_FATAL_FAILURE(run.Click(kOk));
  EXPECT_EQ(run.Data(u"USEIMG"), Dword(0));
  EXPECT_EQ(run.Data(u"IMGBOOSTER"), Dword(1));
  EXPECT_EQ(run.Data(u"IMGLEVEL"), Dword(0));
}

// ---- Saving ----------------------------------------------------------------------

TEST(SettingsDialog, OkWritesEveryValueInOrderAndUnlocksTheBrowser) {
  SettingsRun run;
  ASSERT_NO_FATAL_FAILURE(run.Open());
  ASSERT_NO_FATAL_FAILURE(run.Click(kOk));
  EXPECT_FALSE(run.DialogOpen());
  EXPECT_EQ(run.result, IDOK);
  EXPECT_FALSE(run.join);
  EXPECT_TRUE(run.BrowserEnabled());

  // Disabled controls are saved too: the defaults all come back.
  const std::vector<std::u16string> order = {u"USEQUORVIX", u"ID",     u"PWD",        u"DOC",
                                             u"USENAVI",    u"USEIMG", u"IMGBOOSTER", u"IMGLEVEL"};
  EXPECT_EQ(run.StoredNames(), order);
  const std::pair<std::u16string_view, DWORD> flags[] = {{u"USEQUORVIX", 0}, {u"DOC", 1},        {u"USENAVI", 1},
                                                         {u"USEIMG", 1},     {u"IMGBOOSTER", 0}, {u"IMGLEVEL", 2}};
  for (const auto& [name, value] : flags) {
    const auto stored = run.Stored(name);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, REG_DWORD);
    EXPECT_EQ(stored->data, Dword(value));
  }
  for (std::u16string_view name : {u"ID", u"PWD"}) {
    const auto stored = run.Stored(name);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, REG_SZ);
    EXPECT_EQ(stored->data, Sz(u""));
  }
}

TEST(SettingsDialog, OkStoresWhatTheUserChanged) {
  SettingsRun run;
  ASSERT_NO_FATAL_FAILURE(run.Open());
  ASSERT_NO_FATAL_FAILURE(run.Click(kUseGateway));
  ASSERT_NO_FATAL_FAILURE(run.Type(kId, u"lee"));
  ASSERT_NO_FATAL_FAILURE(run.Type(kPassword, u"abc12345xyz"));
  ASSERT_NO_FATAL_FAILURE(run.Click(kDoc));
  ASSERT_NO_FATAL_FAILURE(run.Click(kNavi));
  run.kernel().Answer(IDOK, nullptr);  // for the booster notice
  ASSERT_NO_FATAL_FAILURE(run.Click(kBooster));
  ASSERT_NO_FATAL_FAILURE(run.Select(kLevel, 1));
  ASSERT_NO_FATAL_FAILURE(run.Click(kOk));

  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(run.Data(u"USEQUORVIX"), Dword(1));
  EXPECT_EQ(run.Data(u"ID"), Sz(u"lee"));
  EXPECT_EQ(run.Data(u"PWD"), Sz(u"aca26622ppz")) << "stored scrambled";
  EXPECT_EQ(run.Data(u"DOC"), Dword(0));
  EXPECT_EQ(run.Data(u"USENAVI"), Dword(0));
  EXPECT_EQ(run.Data(u"USEIMG"), Dword(1));
  EXPECT_EQ(run.Data(u"IMGBOOSTER"), Dword(1));
  EXPECT_EQ(run.Data(u"IMGLEVEL"), Dword(1));
}

// Each box is saved to its own value and to no other: a box read for the
// wrong value would pass any test that changes two boxes the same way.
TEST(SettingsDialog, OkSavesEachBoxToItsOwnValue) {
  struct Case {
    int control;
    std::u16string_view name;
  };
  const Case cases[] = {{kDoc, u"DOC"}, {kNavi, u"USENAVI"}, {kShowImage, u"USEIMG"}, {kBooster, u"IMGBOOSTER"}};
  const std::pair<std::u16string_view, DWORD> defaults[] = {
      {u"DOC", 1}, {u"USENAVI", 1}, {u"USEIMG", 1}, {u"IMGBOOSTER", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "control " << c.control);
    SettingsRun run;
    ASSERT_NO_FATAL_FAILURE(run.Open());
    ASSERT_NO_FATAL_FAILURE(run.Click(kUseGateway));  // the boxes are disabled while the switch is off
    run.kernel().Answer(IDOK, nullptr);                // for the booster notice
    ASSERT_NO_FATAL_FAILURE(run.Click(c.control));
    ASSERT_NO_FATAL_FAILURE(run.Click(kOk));
    EXPECT_EQ(run.Data(u"USEQUORVIX"), Dword(1));
    for (const auto& [name, value] : defaults) {
      EXPECT_EQ(run.Data(name), Dword(name == c.name ? 1 - value : value)) << sim::Utf8(name);
    }
  }
}

TEST(SettingsDialog, LongAccountTextsAreCutAt511Characters) {
  std::u16string longId;
  for (int i = 0; i < 600; ++i) longId += static_cast<char16_t>(u'a' + i % 26);
  const std::u16string longPassword(600, u'한');
  SettingsRun run;
  run.StoreDword(u"USEQUORVIX", 1);
  ASSERT_NO_FATAL_FAILURE(run.Open());
  ASSERT_NO_FATAL_FAILURE(run.Type(kId, longId));
  ASSERT_NO_FATAL_FAILURE(run.Type(kPassword, longPassword));
  ASSERT_NO_FATAL_FAILURE(run.Click(kOk));
  EXPECT_EQ(run.Data(u"ID"), Sz(longId.substr(0, 511)));
  EXPECT_EQ(run.Data(u"PWD"), Sz(ScramblePassword(longPassword.substr(0, 511))));
}

TEST(SettingsDialog, ConfirmingWithoutChangesKeepsTheAccountBytes) {
  // The password field shows the stored form unscrambled; OK scrambles it
  // again into the very same bytes.
  for (std::u16string_view plain : {u"abc12345xyz", u"비밀번호 0987", u"p"}) {
    SCOPED_TRACE(sim::Utf8(plain));
    SettingsRun run;
    run.StoreString(u"ID", u"kim");
    run.StoreString(u"PWD", ScramblePassword(plain));
    const std::vector<BYTE> id = run.Data(u"ID");
    const std::vector<BYTE> password = run.Data(u"PWD");
    ASSERT_NO_FATAL_FAILURE(run.Open());
    EXPECT_EQ(run.Info(kId).title, u"kim");
    EXPECT_EQ(run.Info(kPassword).title, plain);
    ASSERT_NO_FATAL_FAILURE(run.Click(kOk));
    EXPECT_EQ(run.Data(u"ID"), id);
    EXPECT_EQ(run.Data(u"PWD"), password);
  }
}

TEST(SettingsDialog, CancelSavesNothingAndUnlocksTheBrowser) {
  SettingsRun run;
  run.StoreDword(u"USEQUORVIX", 1);
  run.StoreString(u"ID", u"kim");
  ASSERT_NO_FATAL_FAILURE(run.Open());
  const sim::RegistryImage before = run.device.registry().Image();
  ASSERT_NO_FATAL_FAILURE(run.Type(kId, u"park"));
  ASSERT_NO_FATAL_FAILURE(run.Click(kUseGateway));
  ASSERT_NO_FATAL_FAILURE(run.Click(kCancel));
  EXPECT_FALSE(run.DialogOpen());
  EXPECT_EQ(run.result, IDCANCEL);
  EXPECT_FALSE(run.join);
  EXPECT_TRUE(run.BrowserEnabled());
  EXPECT_TRUE(run.device.registry().Image() == before);
}

TEST(SettingsDialog, WorksWithoutABrowserWindow) {
  SettingsRun run;
  ASSERT_NO_FATAL_FAILURE(run.Open(false));
  ASSERT_NO_FATAL_FAILURE(run.Click(kUseGateway));
  ASSERT_NO_FATAL_FAILURE(run.Click(kOk));
  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(run.Data(u"USEQUORVIX"), Dword(1));
}

// ---- Join and the booster notice -------------------------------------------------

TEST(SettingsDialog, JoinAnsweredNoLeavesTheDialogAsItWas) {
  SettingsRun run;
  run.StoreDword(u"USEQUORVIX", 1);
  ASSERT_NO_FATAL_FAILURE(run.Open());
  ASSERT_NO_FATAL_FAILURE(run.Type(kId, u"choi"));
  const auto looks = run.Looks();
  ASSERT_NO_FATAL_FAILURE(run.Click(kJoin));
  EXPECT_EQ(run.Boxes(), std::vector<std::string>{kJoinBox});
  ASSERT_NO_FATAL_FAILURE(run.Answer(IDNO));
  EXPECT_TRUE(run.DialogOpen());
  EXPECT_FALSE(run.result.has_value());
  EXPECT_TRUE(run.Looks() == looks);
  EXPECT_FALSE(run.BrowserEnabled());

  ASSERT_NO_FATAL_FAILURE(run.Click(kOk));
  EXPECT_EQ(run.result, IDOK);
  EXPECT_FALSE(run.join);
  EXPECT_EQ(run.Data(u"ID"), Sz(u"choi"));
}

TEST(SettingsDialog, JoinAnsweredYesClosesWithOkWithoutSaving) {
  SettingsRun run;
  run.StoreDword(u"USEQUORVIX", 1);
  ASSERT_NO_FATAL_FAILURE(run.Open());
  const sim::RegistryImage before = run.device.registry().Image();
  ASSERT_NO_FATAL_FAILURE(run.Type(kId, u"jung"));
  ASSERT_NO_FATAL_FAILURE(run.Click(kDoc));
  ASSERT_NO_FATAL_FAILURE(run.Click(kJoin));
  EXPECT_EQ(run.Boxes(), std::vector<std::string>{kJoinBox});
  ASSERT_NO_FATAL_FAILURE(run.Answer(IDYES));
  EXPECT_FALSE(run.DialogOpen());
  EXPECT_EQ(run.result, IDOK);
  EXPECT_TRUE(run.join);
  EXPECT_TRUE(run.device.registry().Image() == before) << "the typed fields are dropped";
  EXPECT_FALSE(run.BrowserEnabled()) << "the tray closes the browser next";
}

TEST(SettingsDialog, BoosterNoticeOnlyWhenTheBoxIsChecked) {
  SettingsRun run;
  run.StoreDword(u"USEQUORVIX", 1);
  ASSERT_NO_FATAL_FAILURE(run.Open());
  ASSERT_NO_FATAL_FAILURE(run.Click(kBooster));
  EXPECT_EQ(run.Boxes(), std::vector<std::string>{kBoosterBox});
  ASSERT_NO_FATAL_FAILURE(run.Answer(IDOK));
  EXPECT_TRUE(run.Info(kBooster).checked) << "the box stays checked";
  EXPECT_TRUE(run.DialogOpen());

  ASSERT_NO_FATAL_FAILURE(run.Click(kBooster));
  EXPECT_FALSE(run.kernel().BoxOpen());
  EXPECT_TRUE(run.Boxes().empty());
  EXPECT_FALSE(run.Info(kBooster).checked);

  ASSERT_NO_FATAL_FAILURE(run.Click(kBooster));
  EXPECT_EQ(run.Boxes(), std::vector<std::string>{kBoosterBox});
  ASSERT_NO_FATAL_FAILURE(run.Answer(IDOK));
  ASSERT_NO_FATAL_FAILURE(run.Click(kOk));
  EXPECT_EQ(run.Data(u"IMGBOOSTER"), Dword(1));
}

}  // namespace
}  // namespace qx
