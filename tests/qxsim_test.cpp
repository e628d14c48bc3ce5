// The scenario runner: what a scenario author sees when a line is wrong, and
// that a run is the same every time.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/qxsim/scenario.h"

namespace qx::qxsim {
namespace {

struct Outcome {
  int status;
  std::string transcript;
};

std::string Repeat(std::string_view part, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += part;
  return out;
}

Outcome RunScenario(std::string_view text) {
  std::ostringstream out;
  Runner runner(out);
  const int status = runner.RunText(text, "story.qxs");
  return {status, out.str()};
}

TEST(Qxsim, BadLinesStopWithFileAndLine) {
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"# fine\nfly away\n", "story.qxs:2: unknown verb \"fly\""},
      {"advance soon\n", "story.qxs:1: usage: advance"},
      {"note a\nclose client\n", "story.qxs:2: the tray client is not running"},
      {"type 1003 \"unterminated\n", "story.qxs:1: a quoted word is not closed"},
      {"answer Maybe\n", "story.qxs:1: a message box button is OK, Cancel, Yes or No"},
      {"choose Settings\n", "story.qxs:1: no popup menu is open"},
      {"front nowhere\n", "story.qxs:1: there is no window \"nowhere\""},
      {"import missing.reg\n", "story.qxs:1: cannot read"},
      {"expect value HKEY_NOWHERE\\X Y\n", "story.qxs:1: \"HKEY_NOWHERE\\X\" does not start with"},
      {"file show \\nothing\n", "story.qxs:1: there is no file"},
      {"launch 2004 x\n", "story.qxs:1: usage: launch"},
      {"start client\nsend 12 0 4660\n", "story.qxs:2: message 12 carries a pointer"},
      {"advance 21474836 ticks\n", "story.qxs:1: one step advances virtual time by at most 24 hours"},
      {"advance 4294968s\n", "story.qxs:1: one step advances virtual time by at most 24 hours"},
      {"advance 86400001ms\n", "story.qxs:1: one step advances virtual time by at most 24 hours"},
      {Repeat("advance 86400s\n", 49) + "advance 72000s\n", "story.qxs:50: virtual time cannot pass"},
      {"fail RegOpenKeyExW 0\n", "story.qxs:1: the call to fail is counted from 1"},
      {"note fine\nnote caf\xE9\n", "story.qxs:2: the line is not UTF-8: byte 0xE9 at column 9"},
      {"type 1003 \"\xF0\x9F\x98\"\n", "story.qxs:1: the line is not UTF-8: byte 0xF0 at column 12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome run = RunScenario(c.text);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.transcript.find(c.message), std::string::npos) << run.transcript;
  }
}

TEST(Qxsim, MalformedRegistryFileNamesItsLineAndChangesNothing) {
  const auto dir = std::filesystem::temp_directory_path() / "qxsim_test";
  std::filesystem::create_directories(dir);
  {
    std::ofstream file(dir / "bad.reg");
    file << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\A]\n\"x\"=dword:1\n";
  }
  std::ostringstream out;
  Runner runner(out);
  const int status = runner.RunText("import bad.reg\n", dir / "story.qxs");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.str().find("bad.reg:4:"), std::string::npos) << out.str();
  EXPECT_FALSE(runner.device().registry().KeyExists(HKEY_CURRENT_USER, u"Software\\A"));
}

// A step that stores fifty megabytes shows a line, not the megabytes, and
// the steps after it do not pay for the value again; a change made between
// steps is no step's change.
TEST(Qxsim, AHugeValueIsShownShortAndCostsOnlyItsOwnStep) {
  const auto dir = std::filesystem::temp_directory_path() / "qxsim_huge_test";
  std::filesystem::create_directories(dir);
  {
    std::ofstream file(dir / "huge.reg", std::ios::binary);
    file << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Big]\n\"Huge\"=\""
         << std::string(25 * 1024 * 1024, 'a') << "\"\n";
  }
  std::ostringstream out;
  Runner runner(out);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(runner.RunText("import huge.reg\nadvance 1 ticks\nadvance 1 ticks\nadvance 1 ticks\n", dir / "story.qxs"), 0)
      << out.str().substr(0, 2000);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::filesystem::remove_all(dir);
  const std::string transcript = out.str();
  EXPECT_LT(transcript.size(), 2000u);
  EXPECT_NE(transcript.find("\"Huge\" = \"" + std::string(32, 'a') + "\xE2\x80\xA6\" (52428802 bytes)"),
            std::string::npos)
      << transcript;
  // Generous for a sanitized build on a busy machine; copying the registry
  // twice a step, or showing the value whole, takes many times this.
  EXPECT_LT(seconds, 20.0);

  // The world's own change between two steps is not shown by the next one.
  runner.device().registry().SetValue(HKEY_CURRENT_USER, u"Between", u"v", REG_DWORD, std::vector<BYTE>(4));
  out.str({});
  ASSERT_EQ(runner.RunText("advance 1 ticks\n", dir / "story.qxs"), 0);
  EXPECT_EQ(out.str().find("Between"), std::string::npos) << out.str();
}

// The longest step there may be, and the clock right up to its end.
TEST(Qxsim, TimeRunsToTheClocksEndButNotPast) {
  const std::string toTheEnd = "advance 86400000ms\n" + Repeat("advance 86400s\n", 48) + "advance 61367295ms\n";
  const Outcome end = RunScenario(toTheEnd);
  EXPECT_EQ(end.status, 0) << end.transcript;
  EXPECT_NE(end.transcript.find("End of scenario at t=4294967.295s"), std::string::npos) << end.transcript;
  const Outcome past = RunScenario(toTheEnd + "advance 0ms\nadvance 1ms\n");
  EXPECT_EQ(past.status, 1);
  EXPECT_NE(past.transcript.find("story.qxs:52: virtual time cannot pass"), std::string::npos) << past.transcript;
}

// Editors save with or without a byte order mark and with any line end;
// errors name the right line and go to standard error as well.
TEST(Qxsim, AnyLineEndAndByteOrderMarkAndErrorsOnStandardError) {
  for (std::string_view mark : {"", "\xEF\xBB\xBF"}) {
    for (std::string_view end : {"\r\n", "\n", "\r"}) {
      const std::string e(end);
      std::ostringstream errors;
      std::streambuf* const saved = std::cerr.rdbuf(errors.rdbuf());
      const Outcome run = RunScenario(std::string(mark) + "note one" + e + "note two" + e + e + "fly" + e);
      std::cerr.rdbuf(saved);
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.transcript.find("== one\n== two"), std::string::npos) << run.transcript;
      EXPECT_EQ(errors.str().rfind("story.qxs:4: unknown verb \"fly\"", 0), 0u) << errors.str();
    }
  }
}

TEST(Qxsim, ADirectoryIsNoScenario) {
  std::ostringstream out;
  std::ostringstream errors;
  std::streambuf* const saved = std::cerr.rdbuf(errors.rdbuf());
  Runner runner(out);
  const int status = runner.RunFile(std::filesystem::temp_directory_path());
  std::cerr.rdbuf(saved);
  EXPECT_EQ(status, 1);
  EXPECT_NE(errors.str().find("is a directory, not a scenario"), std::string::npos) << errors.str();
}

TEST(Qxsim, FailedExpectationsRunOnButFailTheScenario) {
  const Outcome run = RunScenario(
      "expect key HKEY_CURRENT_USER\\Software\\Nothing\n"
      "note still running\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.transcript.find("story.qxs:1: expectation failed"), std::string::npos);
  EXPECT_NE(run.transcript.find("== still running"), std::string::npos);
}

// An ordered expectation holds only when the parts appear among the last
// step's effects in that order; a trace names the program behind each.
TEST(Qxsim, OrderedExpectationsFollowTheLastStep) {
  const auto dir = std::filesystem::temp_directory_path() / "qxsim_order_test";
  std::filesystem::create_directories(dir);
  {
    std::ofstream file(dir / "entries.reg");
    file << "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\ConnMgr\\Providers\\"
            "{EF097F4C-DC4B-4c98-8FF6-AEF805DC0E8E}\\HTTP-x]\n\"Type\"=dword:00000001\n";
  }
  const std::string story =
      "import \"" + (dir / "entries.reg").string() + "\"\n"
      "trace on\n"
      "window open Notes Notes\n"
      "dial Office\n"
      "start client\n"
      "send 1126 0\n";
  const std::string typeOff = "\"set [HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\ConnMgr\\Providers\\"
                              "{EF097F4C-DC4B-4c98-8FF6-AEF805DC0E8E}\\HTTP-x] \\\"Type\\\"\"";
  struct Case {
    std::string order;
    int status;
  };
  const Case cases[] = {
      {"\"Quorvix.exe: dial-up connection hung up\" then " + typeOff + " then \"\\\"USEQUORVIX\\\"=dword:00000000\"", 0},
      {typeOff + " then \"hung up\"", 1},  // the switch comes after the hang-up
      {"\"hung up\" \"start \\\"connmgr.exe\\\" with parameters \\\"\\\" (verb \\\"open\\\", directory "
       "\\\"\\\", SW_SHOWNORMAL)\"",
       0},
      {"\"stv.exe: hung up\" then \"connmgr\"", 1},  // another program did it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.order);
    const Outcome run = RunScenario(story + "expect process connmgr.exe\nexpect order " + c.order + "\n");
    EXPECT_EQ(run.status, c.status) << run.transcript;
  }
}

TEST(Qxsim, MessagesFromOtherProgramsNeverReachIntoTheirMemory) {
  // A foreign WM_DRAWITEM points into the sender's memory: the tray must
  // not draw from it, whatever it holds.
  const Outcome run = RunScenario("start client\nbrowser open\nadvance 2 ticks\nsend 43 1005 4660\nsend 999 7 7\n");
  EXPECT_EQ(run.status, 0) << run.transcript;
  EXPECT_NE(run.transcript.find("message 43 answered 0"), std::string::npos);
}

TEST(Qxsim, FilesAndProgramStartsAreChecked) {
  struct Case {
    std::string check;
    bool holds;
  };
  const std::string story =
      "file put \\a.txt \"x\" CR LF y\nfile put \\p.asx \"\\My Documents\\news.asf\" 0x00 TAB\n"
      "process start \\p.exe\nbrowser open http://h/\nstart client\nsend 1126 1\n";
  const Case cases[] = {
      {"expect file \\a.txt \"x\" CR LF \"y\"", true},   {"expect file \\a.txt x LF y", false},
      {"expect file \\a.txt \"x\" CR LF \"y \"", false}, {"expect file \\a.txt", true},
      {"expect no file \\a.txt", false},             {"expect no file \\b.txt", true},
      // A path in the text keeps its backslashes; a byte is written bare.
      {"expect file \\p.asx \"\\My Documents\\news.asf\" NUL \"\t\"", true},
      {"expect file \\p.asx \"\\My Documents\" LF \"ews.asf\" NUL TAB", false},
      // Starts the programs made (the client's Connection Manager restart),
      // not the user's browser, and only since the last reset.
      {"expect started connmgr.exe \"\"", true},       {"expect started connmgr.exe x", false},
      {"expect started iexplore.exe http://h/", false}, {"expect no started iexplore.exe http://h/", true},
      {"reset\nexpect started connmgr.exe \"\"", false},
      {"reset\nstart client\nsend 1126 0\nexpect started connmgr.exe \"\"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.check);
    const Outcome run = RunScenario(story + c.check + "\n");
    EXPECT_EQ(run.status, c.holds ? 0 : 1) << run.transcript;
    EXPECT_EQ(run.transcript.find("expectation failed") == std::string::npos, c.holds);
  }
}

// A message whose handler asks the user first is answered in the step that
// lets the handler finish.
TEST(Qxsim, ASendWaitsForItsHandler) {
  const Outcome run = RunScenario(
      "start client\nbrowser open\nadvance 2 ticks\nsend 273 32784\nnote then\nanswer OK\n");
  EXPECT_EQ(run.status, 0) << run.transcript;
  const auto waits = run.transcript.find("message 273 waits for the client to finish");
  const auto then = run.transcript.find("== then");
  const auto answered = run.transcript.find("message 273 answered 0");
  ASSERT_NE(waits, std::string::npos) << run.transcript;
  ASSERT_NE(answered, std::string::npos) << run.transcript;
  EXPECT_LT(waits, then);
  EXPECT_LT(then, answered);
}

TEST(Qxsim, TheSameScenarioGivesTheSameTranscript) {
  const std::string story =
      "start client\nbrowser open\nadvance 3 ticks\ntap button\nchoose \"Reset Quorvix\"\nanswer OK\n"
      "dial Office\ndial \"My`ISP\"\nsend 1126 0\nadvance 1s\nclose client\n";
  const Outcome first = RunScenario(story);
  const Outcome second = RunScenario(story);
  EXPECT_EQ(first.status, 0) << first.transcript;
  EXPECT_EQ(first.transcript, second.transcript);
}

TEST(Qxsim, ADialogWhoseFirstDestroyFailsGoesWithItsObject) {
  // The dialog's window outlived its object, still routed to the dead stack
  // frame: the next message reached freed memory. Every later step here
  // sends the tray messages while that window would still be up.
  struct Case {
    std::string open;
    std::string close;
    std::string title;
  };
  const Case cases[] = {
      {"choose Settings\n", "press OK\nanswer OK\n", "Settings"},
      {"choose \"About Quorvix\"\n", "press 확인\n", "Quorvix 정보"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const Outcome run = RunScenario("start client\nbrowser open\nadvance 2 ticks\ntap button\n" + c.open +
                                    "expect window \"" + c.title + "\"\nfail DestroyWindow\n" + c.close +
                                    "expect no window \"" + c.title + "\"\nadvance 3 ticks\ntap button\n" +
                                    c.open + c.close + "close client\nexpect no window \"" + c.title + "\"\n");
    EXPECT_EQ(run.status, 0) << run.transcript;
  }
}

TEST(Qxsim, HandlesLeftOpenAreNamedAndOnlyRealLeaksFailTheExpectation) {
  // The client's first key close refused: named, but not its leak.
  const Outcome refused = RunScenario("fail RegCloseKey\nstart client\nclose client\nexpect no leaks\n");
  EXPECT_EQ(refused.status, 0) << refused.transcript;
  EXPECT_NE(refused.transcript.find("Quorvix.exe\" left open: registry key HKEY_CURRENT_USER\\Software\\Brennic Inc"),
            std::string::npos);
  EXPECT_NE(refused.transcript.find("(its close was refused)"), std::string::npos);

  std::ostringstream out;
  Runner runner(out);
  runner.device().kernel().InstallProgram(u"\\leaky.exe", {[](Platform& platform, std::u16string_view) {
                                                              platform.processes.LoadLibraryW(u"toolhelp.dll");
                                                              return 0;
                                                            },
                                                            {}});
  runner.device().kernel().StartProgram(u"\\leaky.exe", u"");
  EXPECT_EQ(runner.RunText("expect no leaks\n", "story.qxs"), 1);
  EXPECT_NE(out.str().find("expectation failed: expect no leaks (found \"\\leaky.exe\" left library "
                           "\"toolhelp.dll\" open)"),
            std::string::npos)
      << out.str();
}

// Only the programs' calls are counted and failed: the runner finding a
// window for a step, or the world starting the browser, is neither.
TEST(Qxsim, TheRunnersOwnCallsAreNeitherCountedNorFailed) {
  struct Case {
    std::string story;
    int status;
    std::string seen;     // in the transcript
    std::string unseen;   // not in it
  };
  const Case cases[] = {
      {"browser open\ncalls\n", 0, "[story.qxs:2 t=0.000s] calls\nEnd of scenario", "FindWindowW"},
      {"browser open\nfail FindWindowW\nfront browser\n", 0, "", "there is no window"},
      {"fail ShellExecuteExW\nbrowser open\nexpect window browser\n", 0, "", "expectation failed"},
      {"browser open\nfail FindWindowW\nstart client\nadvance 1 tick\ncalls\n", 0, "    FindWindowW ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.story);
    const Outcome run = RunScenario(c.story);
    EXPECT_EQ(run.status, c.status) << run.transcript;
    if (!c.seen.empty()) {
      EXPECT_NE(run.transcript.find(c.seen), std::string::npos) << run.transcript;
    }
    if (!c.unseen.empty()) {
      EXPECT_EQ(run.transcript.find(c.unseen), std::string::npos) << run.transcript;
    }
  }
}

// A window named by a title that several windows carry is no window: while
// the browser is in front the tray window carries its title too.
TEST(Qxsim, WindowsAreNamedWithoutAmbiguityAndTappedWhereTheyShow) {
  const std::string shown = "start client\nbrowser open\nadvance 2 ticks\n";
  struct Case {
    std::string story;
    int status;
    std::string seen;
  };
  const Case cases[] = {
      {shown + "front \"Internet Explorer\"\n", 1,
       "story.qxs:4: \"Internet Explorer\" names 2 windows: \"Internet Explorer\" (Dialog of "
       "\\Program Files\\Quorvix\\Quorvix.exe), \"Internet Explorer\" (IExplore of iexplore.exe)"},
      {shown + "expect window \"Internet Explorer\"\n", 1, "story.qxs:4: \"Internet Explorer\" names 2 windows"},
      {shown + "window close browser\nexpect window browser\n", 1, "story.qxs:5: expectation failed"},
      {shown + "expect window browser\nexpect window client\n", 0, "ok\n"},
      // A window whose middle another covers is tapped where it shows.
      {"window open Notes Notes 0 26 240 294\nwindow open Pad Pad 60 100 120 100\ntap Notes\nwindows\n", 0,
       "    > \"Notes\" (Notes)"},
      {"window open Notes Notes 0 26 240 294\nwindow open Pad Pad 0 0 240 320\ntap Notes\n", 1,
       "story.qxs:3: the window \"Notes\" is hidden or covered"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.story);
    const Outcome run = RunScenario(c.story);
    EXPECT_EQ(run.status, c.status) << run.transcript;
    EXPECT_NE(run.transcript.find(c.seen), std::string::npos) << run.transcript;
  }
}

// What "file show" prints reads back to the same bytes: a backslash is
// escaped like the bytes it stands beside.
TEST(Qxsim, AFileIsShownWithEveryBackslashEscaped) {
  const Outcome run = RunScenario(R"(file put \p.asx "\n\x41\\" CR LF 0x01
file show \p.asx
)");
  EXPECT_EQ(run.status, 0) << run.transcript;
  EXPECT_NE(run.transcript.find(R"(    | \\n\\x41\\\r\n
    | \x01
)"),
            std::string::npos)
      << run.transcript;
}

// A value's data is checked as its type and bytes however the check writes
// it, the default value is named as .reg files name it, and a failure shows
// what was found in the check's own notation.
TEST(Qxsim, ValuesAreComparedAsTypeAndBytes) {
  const auto dir = std::filesystem::temp_directory_path() / "qxsim_value_test";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "t.reg") << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\T]\n@=\"ASXFile\"\n"
                                  "\"D\"=dword:00000001\n\"P\"=hex(1):41,00,00,00,00,00\n";
  const std::string asx = "hex(1):41,00,53,00,58,00,46,00,69,00,6c,00,65,00,00,00";
  struct Case {
    std::string check;
    int status;
    std::string found;  // the failure's "(found ...)", empty when it holds
  };
  const Case cases[] = {
      {"@ \"ASXFile\"", 0, ""},
      {"\"\" \"ASXFile\"", 0, ""},
      {"@ " + asx, 0, ""},
      {"@ " + asx.substr(0, asx.size() - 6), 1, "(found " + asx + ")"},
      {"@ hex:41,00,53,00,58,00,46,00,69,00,6c,00,65,00,00,00", 1, "(found " + asx + ")"},
      {"D dword:00000001", 0, ""},
      {"D dword:00000002", 1, "(found dword:00000001)"},
      {"P \"A\"", 1, "(found \"A\" (6 bytes, zero-padded))"},
      {"\"@\"", 1, ""},
      {"@ dword:1", 1, "cannot read the data \"dword:1\": dword needs exactly 8 hex digits"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.check);
    std::ostringstream out;
    Runner runner(out);
    const int status = runner.RunText("import t.reg\nexpect value HKEY_CURRENT_USER\\T " + c.check + "\n", dir / "s.qxs");
    EXPECT_EQ(status, c.status) << out.str();
    if (!c.found.empty()) {
      EXPECT_NE(out.str().find(c.found), std::string::npos) << out.str();
    }
  }
  std::filesystem::remove_all(dir);
}

// A message box takes the input its dialog would: the dialog is disabled
// while it is open, as on Win32. And a step names what the user does to
// the kind of control it is.
TEST(Qxsim, ControlsTakeOnlyWhatTheyCanTake) {
  const std::string settings = "start client\nbrowser open\nadvance 2 ticks\ntap button\nchoose Settings\n";
  const std::string notice = settings + "check 1010\n";  // Image Booster: its notice opens
  struct Case {
    std::string story;
    int status;
    std::string seen;
  };
  const Case cases[] = {
      {notice + "press 1013\n", 1, "story.qxs:7: a message box is in front (\"Quorvix\": "},
      {notice + "dialog\n", 0, "    message box \"Quorvix\": "},
      {notice + "tap 40 60\nanswer OK\ndialog\n", 0, "1013 check box \"Use Quorvix\" [x]"},
      {notice + "answer OK\npress 1013\ndialog\n", 0, "1013 check box \"Use Quorvix\" [ ]"},
      {settings + "check 1\n", 1, "story.qxs:6: control 1 is a default button: \"check\" takes a check box"},
      {settings + "press \"ID :\"\n", 1, "story.qxs:6: control ID : is a label: \"press\" takes a button"},
      {settings + "pick 1003 High\n", 1, "story.qxs:6: control 1003 is a text field: \"pick\" takes a list"},
      {settings + "type 1011 x\n", 1, "story.qxs:6: control 1011 is a list: \"type\" takes a text field"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.story);
    const Outcome run = RunScenario(c.story);
    EXPECT_EQ(run.status, c.status) << run.transcript;
    EXPECT_NE(run.transcript.find(c.seen), std::string::npos) << run.transcript;
  }
}

TEST(Qxsim, WordsKeepBlanksInsideQuotesAndBackslashesOfPaths) {
  std::vector<bool> quoted;
  std::string error;
  const auto words = SplitWords(R"(file put "\My Documents\a.asx" "say \"hi\" \\ now" # comment)", &quoted, &error);
  ASSERT_TRUE(error.empty());
  ASSERT_EQ(words.size(), 4u);
  EXPECT_EQ(words[2], R"(\My Documents\a.asx)");
  EXPECT_EQ(words[3], R"(say "hi" \ now)");
  EXPECT_EQ(quoted, (std::vector<bool>{false, false, true, true}));
}

}  // namespace
}  // namespace qx::qxsim
