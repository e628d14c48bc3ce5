// Every text the user reads on the tray's dialogs, in the order the
// dialogs list their controls, as the device shows them.
#include "tests/tray_fixture.h"

namespace qx::tray {
namespace {

struct Listed {
  int id;
  std::u16string className;
  std::u16string text;
  friend bool operator==(const Listed&, const Listed&) = default;
};

void PrintTo(const Listed& s, std::ostream* out) {
  *out << s.id << " " << sim::Utf8(s.className) << " \"" << sim::Utf8(s.text) << "\"";
}

std::vector<Listed> Controls(sim::Kernel& kernel, HWND dialog) {
  std::vector<Listed> listed;
  for (const auto& child : kernel.Children(dialog)) listed.push_back({child.id, child.className, child.title});
  return listed;
}

class DialogTexts : public TrayFixture {
 protected:
  HWND Open(std::u16string_view entry, std::u16string_view caption) {
    StartWithButton();
    TapButton();
    Choose(entry);
    return Window(kDialogClass, caption);
  }
};

TEST_F(DialogTexts, SettingsShowsEveryLabelInTemplateOrder) {
  const HWND settings = Open(u"Settings", u"Settings");
  ASSERT_NE(settings, nullptr) << "the dialog's caption is \"Settings\"";
  const std::vector<Listed> expected = {
      {-1, u"STATIC", u"ID :"},
      {1003, u"EDIT", u""},
      {-1, u"STATIC", u"Password :"},
      {1012, u"EDIT", u""},
      {1008, u"BUTTON", u"Office document morphing"},
      {1014, u"BUTTON", u"Show Navigation Icons"},
      {1009, u"BUTTON", u"Show Image"},
      {1010, u"BUTTON", u"Image Booster"},
      {-1, u"STATIC", u"Image Lvel :"},
      {1011, u"COMBOBOX", u"High (Default)"},  // a drop-down list shows its selected entry
      {3, u"BUTTON", u"Join"},
      {1, u"BUTTON", u"OK"},
      {2, u"BUTTON", u"Cancel"},
      {-1, u"BUTTON", u""},
      {-1, u"BUTTON", u""},
      {-1, u"STATIC", u""},
      {-1, u"BUTTON", u""},
      {1013, u"BUTTON", u"Use Quorvix"},
  };
  EXPECT_EQ(Controls(kernel(), settings), expected);
  EXPECT_EQ(kernel().Describe(settings)->templateId, 135);
  const auto level = kernel().Describe(Control(settings, IDC_IMAGE_LEVEL));
  ASSERT_TRUE(level);
  EXPECT_EQ(level->items, (std::vector<std::u16string>{u"Low", u"Middle", u"High (Default)"}));
  // The password is typed into a masked field.
  EXPECT_NE(kernel().Describe(Control(settings, IDC_PASSWORD))->style & static_cast<LONG>(ES_PASSWORD), 0);
  Press(settings, IDCANCEL);
}

TEST_F(DialogTexts, AboutShowsItsTitleVersionAndKoreanOk) {
  const HWND about = Open(u"About Quorvix", u"Quorvix 정보");
  ASSERT_NE(about, nullptr) << "the box's caption is \"Quorvix 정보\"";
  const std::vector<Listed> listed = Controls(kernel(), about);
  const auto has = [&](Listed s) { return std::find(listed.begin(), listed.end(), s) != listed.end(); };
  EXPECT_TRUE(has({-1, u"STATIC", u"Quorvix v1.0 (1.0.0020)"}));
  EXPECT_TRUE(has({1, u"BUTTON", u"확인"}));
  EXPECT_EQ(kernel().Describe(about)->templateId, 152);
  Press(about, IDOK);
}

// The main window is template 102 with one control, the menu button 1005;
// a click command 1005, from the button or any program, opens the menu.
TEST_F(DialogTexts, MainWindowHoldsOnlyTheMenuButton) {
  StartWithButton();
  ASSERT_EQ(kernel().Describe(Client())->templateId, 102);
  EXPECT_EQ(Controls(kernel(), Client()), (std::vector<Listed>{{1005, u"BUTTON", u""}}));
  kernel().SendFromShell(Client(), WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
  EXPECT_TRUE(kernel().OpenMenuShown().has_value());
}

TEST_F(DialogTexts, PopupMenuListsItsEntriesAndSeparatorsInOrder) {
  StoreId(u"pelor");
  StartWithButton();
  TapButton();
  std::vector<std::string> entries;
  for (const auto& item : kernel().OpenMenuItems()) {
    entries.push_back(item.separator ? "-" : std::to_string(item.id) + " " + sim::Utf8(item.text));
  }
  const std::vector<std::string> expected = {
      "32788 About Quorvix", "-", "32779 Settings", "-", "32772 Use Quorvix", "32784 Reset Quorvix", "-",
      "32780 Quorvix Home",  "32782 Naver", "32781 Yahoo", "32783 Empas", "57665 Exit"};
  EXPECT_EQ(entries, expected);
  kernel().DismissMenu();
}

}  // namespace
}  // namespace qx::tray
