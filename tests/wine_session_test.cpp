// The Wine world's transport: the agent inside a prefix, driven through
// WineSession. Needs a template prefix (tools/wine-world.sh, or the
// end-to-end run's, which tests/e2e/cases/agent.sh names in
// QX_WINE_TEMPLATE); without one, only the checks that need no Wine run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>

#include "tools/qxagent/wire.h"
#include "tools/qxsim/wine_session.h"

namespace qx::qxsim {
namespace {
namespace fs = std::filesystem;
using Lines = std::vector<std::vector<std::string>>;

fs::path Scratch(const std::string& name) {
  const char* dir = std::getenv("QX_WINE_SCRATCH");
  return (dir != nullptr && *dir != '\0' ? fs::path(dir) : fs::temp_directory_path()) /
         ("qx-wine-session-" + std::to_string(getpid()) + "-" + name);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST(WineSessionStart, RefusesWhatIsNoTemplateOrNoPlaceForAPrefix) {
  const fs::path bare = Scratch("bare-template");
  const fs::path noAgent = Scratch("template-without-agent");
  const fs::path occupied = Scratch("occupied");
  fs::create_directories(bare);
  fs::create_directories(noAgent / "drive_c");
  std::ofstream(noAgent / "system.reg") << "WINE REGISTRY Version 2\n";
  fs::create_directories(occupied);
  std::ofstream(occupied / "notes.txt") << "mine\n";
  struct Case {
    fs::path templatePrefix, prefix;
    std::string message;
  };
  const Case cases[] = {
      {bare, Scratch("p1"), "no template prefix at " + bare.string()},
      {noAgent, Scratch("p2"), "has no C:\\qx\\qxagent.exe"},
  };
  for (const auto& c : cases) {
    try {
      WineSession session(c.templatePrefix, c.prefix);
      ADD_FAILURE() << "started from " << c.templatePrefix;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  const char* named = std::getenv("QX_WINE_TEMPLATE");
  if (named != nullptr && *named != '\0') {
    EXPECT_THROW(WineSession(named, occupied), std::runtime_error);
    EXPECT_TRUE(fs::exists(occupied / "notes.txt")) << "a folder that is no prefix was replaced";
  }
  for (const auto& dir : {bare, noAgent, occupied}) fs::remove_all(dir);
}

class WineSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* named = std::getenv("QX_WINE_TEMPLATE");
    if (named == nullptr || *named == '\0') return;
    const auto started = std::chrono::steady_clock::now();
    session_ = new WineSession(named, Scratch("story"));
    // A clone that lacks the boot stamp would set Wine up again (a minute).
    EXPECT_LT(Seconds(started), 30) << "the prefix was set up anew, not cloned";
    std::cout << "timing: prefix cloned and agent started in " << Seconds(started) << " s (Wine "
              << session_->WineVersion() << ")\n";
  }
  static void TearDownTestSuite() {
    if (session_ == nullptr) return;
    const fs::path prefix = session_->Prefix();
    delete session_;
    session_ = nullptr;
    fs::remove_all(prefix);
  }
  void SetUp() override {
    if (session_ == nullptr) GTEST_SKIP() << "QX_WINE_TEMPLATE names no template prefix";
  }

  static Lines Ask(const std::vector<std::string>& fields) {
    const WineSession::Response response = session_->Request(fields);
    EXPECT_TRUE(response.ok) << wire::Join(fields) << ": " << response.error;
    return response.lines;
  }
  // Asks until a data line passes the check (about 10 s at most).
  template <typename Check>
  static std::vector<std::string> Eventually(const std::vector<std::string>& fields, Check check) {
    for (int tries = 0; tries < 100; ++tries) {
      for (const auto& line : Ask(fields)) {
        if (check(line)) return line;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "never: " << wire::Join(fields);
    return {};
  }
  static std::vector<std::string> WindowLine(const std::string& hwnd) {
    for (const auto& line : Ask({"windows"})) {
      if (line.size() == 15 && line[1] == hwnd) return line;
    }
    return {};
  }
  // The browser stand-in, started once for the story.
  static const std::vector<std::string>& Browser() {
    static const std::vector<std::string> window = [] {
      const Lines started = Ask({"start", "C:\\windows\\system32\\iexplore.exe", "", ""});
      const std::string pid = started.empty() ? "" : started[0].at(1);
      return Eventually({"windows"}, [&](const std::vector<std::string>& w) {
        return w.size() == 15 && w[2] == pid && w[4] == "IExplore" && w[5] == "Internet Explorer";
      });
    }();
    return window;
  }

  // The tray client, started once over the browser: its tray window's line.
  static const std::vector<std::string>& Tray() {
    static const std::vector<std::string> tray = [] {
      Ask({"front", Browser().at(1)});
      const std::string pid = Ask({"start", "C:\\qx\\2002\\Quorvix.exe", "", ""}).at(0).at(1);
      return Eventually({"windows"}, [&](const auto& w) { return w.size() == 15 && w[2] == pid && w[10] == "1"; });
    }();
    return tray;
  }
  // Taps the tray button; the open menu's lines.
  static Lines OpenMenu() {
    const auto& tray = Tray();
    if (tray.empty()) return {};
    const int x = (std::stoi(tray[6]) + std::stoi(tray[8])) / 2;
    const int y = (std::stoi(tray[7]) + std::stoi(tray[9])) / 2;
    Ask({"tap", std::to_string(x), std::to_string(y)});
    for (int tries = 0; tries < 50; ++tries) {
      const auto response = session_->Request({"menu"});
      if (response.ok) return response.lines;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "no menu opened";
    return {};
  }
  static std::vector<std::string> Control(const std::string& dialog, const std::string& id) {
    for (const auto& line : Ask({"controls", dialog})) {
      if (line.size() >= 14 && line[2] == id) return line;
    }
    ADD_FAILURE() << "no control " << id << " in " << dialog;
    return std::vector<std::string>(14);
  }

  static WineSession* session_;
};
WineSession* WineSessionTest::session_ = nullptr;

TEST_F(WineSessionTest, RequestsOfTheWrongShapeAreRefusedAndTheAgentGoesOn) {
  struct Case {
    std::vector<std::string> fields;
    std::string error;
  };
  const Case cases[] = {
      {{"fly"}, "usage: no request \"fly\""},
      {{"hello", "again"}, "usage: hello"},
      {{"start"}, "usage: start PATH ARGUMENTS ENV"},
      {{"tap", "ten", "20"}, "X must be a number"},
      {{"controls", "0x10"}, "hex digits"},
      {{"controls", "fffffff0"}, "no window fffffff0"},
      {{"menu"}, "no popup menu is open"},
      {{"up"}, "the stylus is not down"},
      {{"reg-tree", "HKEY_USERS", ""}, "a root is HKEY_CLASSES_ROOT"},
      {{"reg-set", "HKEY_CURRENT_USER", "Software\\QxTest", "v", "3", "abc"}, "hex digits"},
      {{"reg-delete-key", "HKEY_CURRENT_USER", ""}, "a root is not deleted"},
      {{"start", "C:\\nowhere\\none.exe", "", ""}, "CreateProcessW failed: error 3"},
      {{"start", "C:\\windows\\notepad.exe", "", "NOEQUALS"}, "NAME=VALUE"},
      {{"idle", "1,x", "10"}, "a process id"},
      {{"post", "fffffff0", "16", "0", "0"}, "no window"},
      {{"terminate", "0", "1"}, "no process 0"},
  };
  for (const auto& c : cases) {
    const auto response = session_->Request(c.fields);
    EXPECT_FALSE(response.ok) << wire::Join(c.fields);
    EXPECT_NE(response.error.find(c.error), std::string::npos) << wire::Join(c.fields) << ": " << response.error;
  }
  // A message whose parameter is an address is refused before anything
  // reads memory at a number.
  const auto pointer = session_->Request({"send", Browser()[1], "12", "0", "4096"});
  EXPECT_NE(pointer.error.find("carries an address"), std::string::npos) << pointer.error;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask({"hello"}).at(0).at(0), "version");
  std::cout << "timing: a request's round trip " << Seconds(started) * 1000 << " ms\n";
}

TEST_F(WineSessionTest, TheBrowserStandInIsSeenRunningAndIdle) {
  const auto& browser = Browser();
  ASSERT_FALSE(browser.empty());
  const std::string pid = browser[2];
  EXPECT_EQ(browser[3], "iexplore.exe");
  EXPECT_EQ((std::vector<std::string>(browser.begin() + 6, browser.begin() + 10)),
            (std::vector<std::string>{"0", "26", "240", "294"}));
  bool listed = false;
  for (const auto& p : Ask({"processes"})) listed = listed || (p == std::vector<std::string>{"p", pid, "iexplore.exe"});
  EXPECT_TRUE(listed);
  EXPECT_EQ(Ask({"idle", pid, "5000"}), Lines{});
}

TEST_F(WineSessionTest, ValuesOfAnyBytesAndNamesComeBackExactly) {
  const std::string key = "Software\\QxAgent\\Odd";
  const std::string loneHalf = "\xed\xa0\x80";  // a UTF-16 name unit without its pair
  struct Value {
    std::string name, type, hex;
  };
  const Value values[] = {
      {"Unterminated", "1", "610062006300"},  // REG_SZ "abc" without its terminator
      {"Zeros", "3", "00ff000000"},
      {"tab\there", "4", "01000000"},
      {"", "1", ""},  // the default value, empty
      {"back\\slash " + loneHalf, "7", "610000000000"},
  };
  for (const auto& v : values) Ask({"reg-set", "HKEY_CURRENT_USER", key, v.name, v.type, v.hex});
  Ask({"reg-create", "HKEY_CURRENT_USER", key + "\\Below\\Deeper"});
  const Lines tree = Ask({"reg-tree", "HKEY_CURRENT_USER", key});
  std::vector<std::string> keys;
  std::vector<std::vector<std::string>> found;
  for (const auto& line : tree) {
    if (line.at(0) == "k") keys.push_back(line.at(1));
    if (line.at(0) == "v") found.push_back(line);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{key, key + "\\Below", key + "\\Below\\Deeper"}));
  ASSERT_EQ(found.size(), std::size(values));
  for (const auto& v : values) {
    EXPECT_NE(std::find(found.begin(), found.end(), std::vector<std::string>{"v", key, v.name, v.type, v.hex}),
              found.end())
        << v.name;
  }
  Ask({"reg-delete-value", "HKEY_CURRENT_USER", key, "Zeros"});
  EXPECT_EQ(Ask({"reg-tree", "HKEY_CURRENT_USER", key}).size(), tree.size() - 1);
  Ask({"reg-delete-key", "HKEY_CURRENT_USER", "Software\\QxAgent"});
  EXPECT_EQ(Ask({"reg-tree", "HKEY_CURRENT_USER", key}), Lines{{"missing"}});
}

TEST_F(WineSessionTest, ATapBringsAWindowToTheFrontAndLandsInIt) {
  const std::string browser = Browser().at(1);
  const std::string other = Ask({"open-window", "QxOther", "Other program", "300", "300", "80", "80"}).at(0).at(1);
  // A window of the agent's own inside the browser's page, over it.
  const std::string child = Ask({"child-window", browser, "QxPage", "10", "20", "50", "50"}).at(0).at(1);
  Ask({"front", browser});
  EXPECT_EQ(WindowLine(browser).at(14), "1");
  EXPECT_EQ(WindowLine(other).at(14), "0");
  EXPECT_EQ(Ask({"tap", "340", "340"}), (Lines{{"hit", other}}));
  const Lines windows = Ask({"windows"});
  EXPECT_EQ(windows.at(0).at(1), other) << "the tapped window is not in front: " << wire::Join(windows.at(0));
  EXPECT_EQ(WindowLine(other).at(14), "1");
  EXPECT_EQ(Ask({"tap", "30", "66"}), (Lines{{"hit", child}}));
  EXPECT_EQ(WindowLine(browser).at(14), "1");
  Ask({"client-height", browser, "200"});
  EXPECT_EQ(WindowLine(browser).at(9), "226");
  Ask({"close", other});
  Eventually({"windows"}, [&](const auto&) { return WindowLine(other).empty(); });
}

TEST_F(WineSessionTest, ASentMessageIsAnsweredLater) {
  const std::string browser = Browser().at(1);
  const std::string token = Ask({"send", browser, "14", "0", "0"}).at(0).at(1);  // WM_GETTEXTLENGTH
  const auto result = Eventually({"sends"}, [](const auto& line) { return line.at(0) == "r"; });
  EXPECT_EQ(result, (std::vector<std::string>{"r", token, "17"}));  // "Internet Explorer"
  EXPECT_EQ(Ask({"sends"}), Lines{}) << "a result is told once";
}

TEST_F(WineSessionTest, AnotherProgramsPopupMenuIsReadAndDismissed) {
  // Under Wine a menu's entries can be read only inside the program that
  // shows it: the tray client's, over the browser.
  const Lines menu = OpenMenu();
  ASSERT_GE(menu.size(), 4u);
  EXPECT_EQ(menu[0].at(0), "m");
  EXPECT_EQ(menu[1], (std::vector<std::string>{"i", "32788", "About Quorvix", "0", "0"}));
  EXPECT_EQ(menu[2], (std::vector<std::string>{"i", "0", "", "0", "1"}));
  EXPECT_NE(std::find_if(menu.begin(), menu.end(), [](const auto& i) { return i.at(0) == "i" && i.at(3) == "1"; }),
            menu.end())
      << "no entry is checked";
  Ask({"dismiss"});
  EXPECT_EQ(session_->Request({"menu"}).error, "no popup menu is open");
}

TEST_F(WineSessionTest, AnotherProgramsDialogIsFilledInAndCancelled) {
  ASSERT_FALSE(OpenMenu().empty());
  Ask({"choose", "1"});  // Settings: the second entry that is no separator
  const std::string dialog = Eventually({"windows"}, [](const auto& w) {
                               return w.size() == 15 && w[4] == "Dialog" && w[5] == "Settings";
                             }).at(1);
  const std::string edit = Control(dialog, "1003")[1];
  Ask({"settext", edit, "qx-user"});
  EXPECT_EQ(Control(dialog, "1003")[4], "qx-user");
  // Typing stops at the field's limit, as the simulated device's does.
  Ask({"send", edit, "197", "4", "0"});  // EM_LIMITTEXT
  Eventually({"sends"}, [](const auto& r) { return r.at(0) == "r"; });
  Ask({"settext", edit, "qx-user-2"});
  EXPECT_EQ(Control(dialog, "1003")[4], "qx-u");
  const auto list = Control(dialog, "1011");
  ASSERT_GE(list.size(), 16u) << "the list shows no items";
  Ask({"select", list[1], "0"});
  EXPECT_EQ(Control(dialog, "1011")[13], "0");
  EXPECT_EQ(Control(dialog, "1011")[4], list[14]) << "the list does not show its first item";
  struct Refused {
    std::vector<std::string> fields;
    std::string error;
  };
  const Refused refused[] = {
      {{"select", list[1], std::to_string(list.size() - 14)}, "the list has " + std::to_string(list.size() - 14) + " items"},
      {{"settext", Control(dialog, "2")[1], "x"}, "is no text field"},
      {{"click", edit}, "is no button"},
  };
  for (const auto& r : refused) {
    EXPECT_NE(session_->Request(r.fields).error.find(r.error), std::string::npos) << wire::Join(r.fields);
  }
  Ask({"click", Control(dialog, "2")[1]});  // Cancel
  Eventually({"windows"}, [&](const auto&) { return WindowLine(dialog).empty(); });
}

TEST_F(WineSessionTest, AMessageWhoseHandlerAsksTheUserIsPendingUntilAnswered) {
  const auto& tray = Tray();
  ASSERT_FALSE(tray.empty());
  // WM_COMMAND "Reset Quorvix": its handler asks in a message box first.
  const std::string token = Ask({"send", tray[1], "273", "32784", "0"}).at(0).at(1);
  const std::string box = Eventually({"windows"}, [&](const auto& w) {
                            return w.size() == 15 && w[2] == tray[2] && w[4] == "#32770";
                          }).at(1);
  const Lines shown = Ask({"box", box});
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].at(1), "Quorvix");
  EXPECT_FALSE(shown[0].at(2).empty());
  EXPECT_EQ(shown[0].at(3), "1 2");
  // The box disables the window it belongs to: a tap there reaches nothing.
  const int x = (std::stoi(tray[6]) + std::stoi(tray[8])) / 2;
  const int y = (std::stoi(tray[7]) + std::stoi(tray[9])) / 2;
  Ask({"tap", std::to_string(x), std::to_string(y)});
  Ask({"idle", tray[2], "2000"});
  EXPECT_EQ(session_->Request({"menu"}).error, "no popup menu is open");
  EXPECT_EQ(WindowLine(box).at(14), "1") << "the box lost the front to the window it disables";
  // Waiting for the user is idle; the send is not over.
  EXPECT_EQ(Ask({"idle", tray[2], "2000"}), (Lines{{"pending", token}}));
  EXPECT_EQ(Ask({"sends"}), Lines{});
  Ask({"answer", box, "2"});
  EXPECT_EQ(Eventually({"sends"}, [](const auto& r) { return r.at(0) == "r"; }).at(1), token);
  EXPECT_TRUE(WindowLine(box).empty());
}

TEST_F(WineSessionTest, AnAgentThatDoesNotAnswerInTimeBreaksTheSession) {
  // Its own session: this one ends broken. Ending it ends its X server.
  std::string display;
  {
    WineSession late(std::getenv("QX_WINE_TEMPLATE"), Scratch("late"));
    display = late.Display();
    EXPECT_TRUE(fs::exists("/tmp/.X11-unix/X" + display.substr(1)));
    // A program without windows never waits for input: idle waits its
    // whole bound for it.
    const auto started = late.Request({"start", "C:\\windows\\system32\\connmgr.exe", "", ""});
    ASSERT_TRUE(started.ok) << started.error;
    const std::string pid = started.lines.at(0).at(1);
    const auto response = late.Request({"idle", pid, "1000"}, 100);
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.error, "the agent did not answer: idle\t" + pid + "\t1000");
    EXPECT_FALSE(late.Request({"hello"}).ok) << "a late answer would be taken for the next one's";
  }
  EXPECT_FALSE(fs::exists("/tmp/.X11-unix/X" + display.substr(1))) << "Xvfb " << display << " still runs";
  fs::remove_all(Scratch("late"));
}

}  // namespace
}  // namespace qx::qxsim
