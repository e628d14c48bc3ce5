// A story told on the live device: it replays with qxsim to the transcript
// it showed, after steps that could not run and after going back; host
// files stay in their folder; a tap is the step a scenario author writes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tools/qxsim/serve/session.h"
#include "tools/qxsim/serve/taps.h"

namespace qx::qxsim {
namespace {

namespace fs = std::filesystem;
const fs::path kScenarios = QX_SCENARIO_DIR;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What qxsim prints for the session's scenario file, named as the session
// names it and without the closing line.
std::string Replayed(const Session& session, const fs::path& file) {
  std::ostringstream out;
  Runner runner(out);
  runner.RunText(session.Scenario(), file);
  std::string text = out.str();
  text.erase(0, text.find('\n') + 1);
  text.erase(text.rfind("End of scenario"));
  return "Scenario " + file.filename().string() + "\n" + text;
}

void Steps(Session& session, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    std::string error;
    ASSERT_TRUE(session.Step(line, &error)) << error;
  }
}

// The way to the tray button's menu on a fresh device.
const std::vector<std::string> kToTheMenu = {"start client", "advance 1 tick", "browser open", "advance 1 tick",
                                             "tap button"};

TEST(ServeSession, TheRoadToldStepByStepReplaysToWhatItShowed) {
  Session session(kScenarios / "story.qxs", kScenarios);
  for (const std::string& line : Lines(Slurp(kScenarios / "road.qxs"))) {
    if (line.empty()) continue;
    std::string error;
    ASSERT_TRUE(session.Step(line, &error)) << error;
  }
  EXPECT_EQ(session.Transcript(), Replayed(session, kScenarios / "story.qxs"));
  EXPECT_EQ(session.Transcript().find("expectation failed"), std::string::npos) << session.Transcript();
}

TEST(ServeSession, GoingBackAndOnRestoresTheDeviceExactly) {
  const fs::path road = kScenarios / "road.qxs";
  std::string error;
  Session straight(road, kScenarios);
  ASSERT_TRUE(straight.Open(Slurp(road), &error)) << error;
  Session wandering(road, kScenarios);
  ASSERT_TRUE(wandering.Open(Slurp(road), &error)) << error;
  const std::size_t end = wandering.position();
  // Back to the fresh device and to step 60, each time on to the end again:
  // the calls counted on the way must be exactly those of the straight story.
  for (const std::size_t to : {std::size_t{0}, end, std::size_t{60}, end - 3, end}) ASSERT_TRUE(wandering.Rewind(to));
  EXPECT_FALSE(wandering.Rewind(end + 1));
  Steps(straight, {"start client", "calls"});
  Steps(wandering, {"start client", "calls"});
  EXPECT_EQ(wandering.Transcript(), straight.Transcript());
  EXPECT_EQ(wandering.Transcript(), Replayed(wandering, road));
}

TEST(ServeSession, AStepFromAnEarlierOneDropsTheLaterOnes) {
  const fs::path road = kScenarios / "road.qxs";
  Session session(road, kScenarios);
  std::string error;
  ASSERT_TRUE(session.Open(Slurp(road), &error)) << error;
  std::size_t tap = 0;
  for (std::size_t i = 0; i < session.lines().size(); ++i) {
    if (session.lines()[i].text == "tap button") tap = i + 1;
  }
  ASSERT_NE(tap, 0u);
  ASSERT_TRUE(session.Rewind(tap));
  EXPECT_EQ(session.lines().size(), Lines(Slurp(road)).size()) << "going back alone drops nothing";
  Steps(session, {"choose \"About Quorvix\""});
  EXPECT_EQ(session.position(), tap + 1);
  EXPECT_EQ(session.lines().size(), tap + 1);
  EXPECT_TRUE(session.Scenario().ends_with("tap button\nchoose \"About Quorvix\"\n")) << session.Scenario();
  EXPECT_FALSE(session.Rewind(tap + 2));
  EXPECT_EQ(session.Transcript(), Replayed(session, road));
}

TEST(ServeSession, ALineThatCannotRunIsNotKeptAndChangesNothing) {
  const fs::path file = kScenarios / "story.qxs";
  Session session(file, kScenarios);
  std::string error;
  ASSERT_TRUE(session.Open(FreshDeviceOpening(), &error)) << error;
  Steps(session, kToTheMenu);
  const std::string before = session.Scenario();
  const std::size_t next = session.position() + 1;
  struct Case {
    std::string line;
    std::string message;
  };
  const Case cases[] = {
      {"fly away", "unknown verb \"fly\""},
      // Runs far enough to count as the step whose effects `expect order` reads.
      {"press OK", "no dialog is open"},
      {"type 1003 \"open", "a quoted word is not closed"},
      {"advance soon", "usage: advance"},
      {"two\nlines", "a step is one line"},
      {"caf\xC3", "a step is UTF-8 text"},
      {" \t", "a step is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    error.clear();
    EXPECT_FALSE(session.Step(c.line, &error));
    EXPECT_TRUE(error.starts_with("line " + std::to_string(next) + ": " + c.message)) << error;
    EXPECT_EQ(session.Scenario(), before);
  }
  // The menu's opening is still the last step the device took.
  Steps(session, {"expect order \"popup menu\" then \"painted\"", "calls"});
  EXPECT_NE(session.lines()[next - 1].transcript.find("    ok\n"), std::string::npos)
      << session.lines()[next - 1].transcript;
  EXPECT_EQ(session.Transcript(), Replayed(session, file));
}

TEST(ServeSession, HostFilesStayInsideTheFolder) {
  const fs::path root = fs::temp_directory_path() / "qx_serve_host_files";
  fs::remove_all(root);
  const fs::path inside = root / "inside";
  const fs::path outside = root / "outside";
  fs::create_directories(inside / "sub");
  fs::create_directories(outside);
  const std::string reg = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Here]\n";
  std::ofstream(outside / "x.reg") << reg;
  std::ofstream(inside / "ok.reg") << reg;
  fs::create_symlink(outside, inside / "link");
  fs::create_symlink(outside / "new.txt", inside / "dangling");
  fs::create_symlink(inside / "sub", inside / "inner");

  Session session(inside / "story.qxs", inside);
  Steps(session, {"file put \\f hello"});
  const std::string abs = outside.string();
  struct Case {
    std::string line;
    bool refused;
  };
  const Case cases[] = {
      {"import " + abs + "/x.reg", true},
      {"import ../outside/x.reg", true},
      {"import link/x.reg", true},
      {"import sub/../ok.reg", false},
      {"export to ../outside/e.reg", true},
      {"export to dangling", true},
      {"export to link/e.reg", true},
      {"export to sub/e.reg", false},
      {"export to sub/../e.reg", false},
      {"export to inner/f.reg", false},  // a link that stays inside
      {"file put \\g from " + abs + "/x.reg", true},
      {"file put \\g from ok.reg", false},
      {"file get \\f to ../outside/g.txt", true},
      {"file get \\f to sub/g.txt", false},
      {"install \\D package link/x.reg", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string error;
    EXPECT_EQ(session.Step(c.line, &error), !c.refused) << error;
    if (c.refused) {
      EXPECT_NE(error.find("is outside " + fs::canonical(inside).string()), std::string::npos) << error;
    }
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(outside)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"x.reg"}) << "nothing was written outside";
  EXPECT_TRUE(fs::exists(inside / "sub" / "e.reg"));
  EXPECT_TRUE(fs::exists(inside / "sub" / "f.reg"));
  // The paths the steps printed are those qxsim prints for the file.
  EXPECT_EQ(session.Transcript(), Replayed(session, inside / "story.qxs"));
  EXPECT_TRUE(fs::exists(inside / "sub" / "g.txt"));
  fs::remove_all(root);
}

// What a tap at (x, y) does: its step, or the verb and control a field or
// list asks the text for.
std::string TapAt(Session& session, int x, int y) {
  ScreenPlaces places;
  DrawScreen(session.kernel(), &places);
  for (const TapRegion& region : TapRegions(session.kernel(), session.runner().TrayWindow(), places)) {
    if (x >= region.rect.left && x < region.rect.right && y >= region.rect.top && y < region.rect.bottom) {
      if (region.kind != TapRegion::Kind::Window) return region.step;
      break;
    }
  }
  return "tap " + std::to_string(x) + " " + std::to_string(y);
}

TEST(ServeSession, ATapIsTheStepAScenarioAuthorWrites) {
  Session session(kScenarios / "story.qxs", kScenarios);
  std::string error;
  ASSERT_TRUE(session.Open(FreshDeviceOpening(), &error)) << error;
  Steps(session, {"start client", "advance 1 tick", "browser open", "advance 1 tick"});
  struct Case {
    int x, y;
    std::string step;
    bool take;  // take the step, moving the story on
  };
  const Case cases[] = {
      {120, 100, "tap 120 100", false},  // the browser's page
      {192, 306, "tap button", true},
      {120, 196, "choose \"About Quorvix\"", false},
      {120, 220, "choose Settings", true},
      {120, 91, "type 1003", false},
      {120, 115, "type 1012", false},
      {120, 226, "pick 1011", false},
      {40, 92, "tap 40 92", false},  // the label "ID :"
      {30, 60, "uncheck \"Use Quorvix\"", false},
      {105, 203, "check \"Image Booster\"", true},
      // Its warning holds the dialog: what shows of it takes only taps.
      {30, 60, "tap 30 60", false},
      {120, 202, "answer OK", true},
      {105, 203, "uncheck \"Image Booster\"", false},
      {110, 258, "press OK", true},
      {120, 202, "answer OK", false},
      {60, 140, "tap 60 140", false},  // the notice's text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    EXPECT_EQ(TapAt(session, c.x, c.y), c.step);
    if (c.take) Steps(session, {c.step});
  }
  // Looking at the screen between steps is no call of the device's.
  Steps(session, {"calls"});
  EXPECT_EQ(session.Transcript(), Replayed(session, kScenarios / "story.qxs"));
}

TEST(ServeSession, WordsAreWrittenSoTheyReadBack) {
  for (const std::string word : {"Settings", "About Quorvix", "", "#1", "a#", "say \"hi\"", "C:\\dir\\", "\\\"",
                                 "tab\there", "\xED\x95\x9C\xEA\xB8\x80"}) {
    SCOPED_TRACE(word);
    std::string error;
    const auto words = SplitWords("type " + ScenarioWord(word), nullptr, &error);
    EXPECT_EQ(words, (std::vector<std::string>{"type", word})) << error;
  }
}

}  // namespace
}  // namespace qx::qxsim
