// What qxsim's writers show: string values as text with their width, old
// values without the parts they share with the new ones, colours only where
// asked, the storyboard page self-contained with one frame per step.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <sstream>

#include "platform/sim/reg_format.h"
#include "platform/sim/sim.h"
#include "tools/qxsim/registry_lines.h"
#include "tools/qxsim/scenario.h"
#include "tools/qxsim/storyboard.h"

namespace qx::qxsim {
namespace {

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
  std::vector<BYTE> bytes;
  for (int v : values) bytes.push_back(static_cast<BYTE>(v));
  return bytes;
}

// A value and how a reader is shown it.
struct ShownCase {
  const char* what;
  DWORD type;
  std::vector<BYTE> data;
  std::string shown;
};

void ExpectShown(const std::vector<ShownCase>& cases) {
  for (const ShownCase& c : cases) {
    EXPECT_EQ(sim::RegValueReadableText(c.type, c.data), c.shown) << c.what;
  }
}

template <typename Text>
Text Repeat(const Text& part, std::size_t times) {
  Text out;
  for (std::size_t i = 0; i < times; ++i) out += part;
  return out;
}

TEST(QxsimWriters, StringValuesShowTheirTextAndWidthWhenTheRestIsZeros) {
  const std::u16string command = u"\"\\Program Files\\Quorvix\\stv.exe\" \"%1\"";
  ExpectShown({
      {"open command at its fixed width", REG_SZ, sim::StringBytes(command, 260),
       R"("\"\\Program Files\\Quorvix\\stv.exe\" \"%1\"" (260 bytes, zero-padded))"},
      {"text and one terminator", REG_SZ, sim::StringBytes(u"gw.quorvix.net:8000"), R"("gw.quorvix.net:8000")"},
      {"an odd width still shows", REG_SZ, Bytes({'a', 0, 0, 0, 0}), R"("a" (5 bytes, zero-padded))"},
      {"empty text padded", REG_SZ, Bytes({0, 0, 0, 0}), R"("" (4 bytes, zero-padded))"},
      {"something after the terminator", REG_SZ, Bytes({'a', 0, 0, 0, 'b', 0}), "hex(1):61,00,00,00,62,00"},
      {"no terminator", REG_SZ, Bytes({'a', 0, 'b', 0}), "hex(1):61,00,62,00"},
      {"half a terminator", REG_SZ, Bytes({'a', 0, 0}), "hex(1):61,00,00"},
      {"expandable strings keep their bytes", REG_EXPAND_SZ, Bytes({'a', 0, 0, 0, 0, 0}), "hex(2):61,00,00,00,00,00"},
      {"a number", REG_DWORD, sim::DwordBytes(1), "dword:00000001"},
  });
}

TEST(QxsimWriters, LongValuesShowTheirStartAndSize) {
  const std::string ellipsis = "\xE2\x80\xA6";
  const std::string a32(32, 'a');
  const std::string hex41 = Repeat<std::string>("41,", 64);
  ExpectShown({
      {"at the bound a string is shown whole", REG_SZ, sim::StringBytes(Repeat<std::u16string>(u"a", 2047)),
       "\"" + std::string(2047, 'a') + "\""},
      {"one byte more and only its start", REG_SZ, sim::StringBytes(Repeat<std::u16string>(u"a", 2047), 4098),
       "\"" + a32 + ellipsis + "\" (4098 bytes)"},
      {"fifty megabytes", REG_SZ, sim::StringBytes(Repeat<std::u16string>(u"a", 25 * 1024 * 1024)),
       "\"" + a32 + ellipsis + "\" (52428802 bytes)"},
      {"a pair of surrogates is not cut", REG_SZ,
       sim::StringBytes(u"a" + Repeat<std::u16string>(u"\U0001F600", 3000)),
       "\"a" + Repeat<std::string>("\xF0\x9F\x98\x80", 15) + ellipsis + "\" (12004 bytes)"},
      {"quotes stay escaped", REG_SZ, sim::StringBytes(u"\"" + Repeat<std::u16string>(u"b", 5000)),
       "\"\\\"" + std::string(31, 'b') + ellipsis + "\" (10004 bytes)"},
      {"a string that is not text shows bytes", REG_SZ,
       sim::StringBytes(u"\x01" + Repeat<std::u16string>(u"a", 5000)),
       "hex(1):01,00," + Repeat<std::string>("61,00,", 31) + ellipsis + " (10004 bytes)"},
      {"binary", REG_BINARY, std::vector<BYTE>(5000, 0x41), "hex:" + hex41 + ellipsis + " (5000 bytes)"},
      {"a long number", REG_DWORD, std::vector<BYTE>(4100, 0x41), "hex(4):" + hex41 + ellipsis + " (4100 bytes)"},
  });
}

TEST(QxsimWriters, OldValuesLeaveOutLongPartsTheyShareWithTheNew) {
  const auto text = [](std::u16string_view s, std::size_t width = 0) {
    return sim::RegValue{u"", REG_SZ, sim::StringBytes(s, width)};
  };
  struct Case {
    const char* what;
    sim::RegValue was;
    sim::RegValue now;
    std::string shown;
  };
  const Case cases[] = {
      {"long shared start", text(u"\"\\Program Files\\Quorvix\\stv.exe\" \"%1\"", 260),
       text(u"\"\\Program Files\\Windows Media Player 8\\player.exe\" \"%1\"", 260),
       "\"\xE2\x80\xA6Quorvix\\\\stv.exe\\\" \\\"%1\\\"\" (260 bytes, zero-padded)"},
      {"short shared parts stay", text(u"wap.mobilenet.co.kr:1850"), text(u"gw.quorvix.net:8000"),
       R"("wap.mobilenet.co.kr:1850")"},
      {"long shared end", text(u"user1;0123456789abcdef0123456789"), text(u"user2;0123456789abcdef0123456789"),
       "\"user1\xE2\x80\xA6\""},
      // The cut never separates a backslash from what it escapes.
      {"escape at the cut", text(u"C:\\Program Files\\Quorvix\\\\A"), text(u"C:\\Program Files\\Quorvix\\\"B"),
       "\"\xE2\x80\xA6\\\\A\""},
      // Nor splits a Hangul syllable's bytes.
      {"Hangul at the cut", text(u"설정값을 적용하기 위해서 가"), text(u"설정값을 적용하기 위해서 각"),
       "\"\xE2\x80\xA6\xEA\xB0\x80\""},
      {"numbers are shown whole", sim::RegValue{u"", REG_DWORD, sim::DwordBytes(0)},
       sim::RegValue{u"", REG_DWORD, sim::DwordBytes(1)}, "dword:00000000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadableWas(c.was, c.now), c.shown) << c.what;
  }
}

// The device of the road: the Connection Manager's entry, the player owning
// the streaming types, the client's package installed.
constexpr std::string_view kRoadDevice =
    "import connection-manager.reg\nimport pocket-pc-2002-device.reg\nimport quorvix-2002-install.reg\n";

// Runs the story as if it were a scenario beside the shipped ones.
std::string Transcript(std::string_view story, bool colour = false, Writer* also = nullptr) {
  std::ostringstream out;
  Runner runner(out, colour);
  if (also != nullptr) runner.AddWriter(*also);
  EXPECT_EQ(runner.RunText(std::string(kRoadDevice) + std::string(story),
                           std::filesystem::path(QX_SOURCE_DIR) / "scenarios" / "story.qxs"),
            0)
      << out.str();
  return out.str();
}

TEST(QxsimWriters, TheTranscriptShowsOpenCommandsAsTextAndTheExportKeepsTheirBytes) {
  const std::string transcript = Transcript("start client\nexport HKEY_CLASSES_ROOT\\MMS\\Shell\\Open\\Command\n");
  const std::string export_ = transcript.substr(transcript.find("] export"));
  const std::string steps = transcript.substr(0, transcript.find("] export"));
  EXPECT_EQ(steps.find("hex(1):"), std::string::npos) << steps;
  EXPECT_NE(steps.find(R"(~ @ = "\"\\Program Files\\Quorvix\\stv.exe\" \"%1\"" (260 bytes, zero-padded))"),
            std::string::npos)
      << steps;
  // The .reg text keeps the 260 bytes visible: 520 hex digits.
  EXPECT_NE(export_.find("| @=hex(1):22,00,5c,00,50,00"), std::string::npos) << export_;
}

TEST(QxsimWriters, ColoursMarkAdditionsChangesAndRemovalsOnlyWhenAsked) {
  const std::string story = "start client\nadvance 1 tick\n";
  const std::string plain = Transcript(story);
  const std::string coloured = Transcript(story, true);
  EXPECT_EQ(plain.find('\x1b'), std::string::npos);
  for (const char* mark : {"\x1b[32m+ ", "\x1b[33m~ ", "\x1b[31m- "}) {
    EXPECT_NE(coloured.find(mark), std::string::npos) << mark;
  }
  // Key lines of values changed in place carry no colour.
  EXPECT_NE(coloured.find("      [HKEY_CLASSES_ROOT\\MMS\\Shell\\Open\\Command]\n"), std::string::npos);
}

TEST(QxsimWriters, ColourOnlyOnATerminalWithoutNoColor) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  struct Case {
    const char* noColor;  // nullptr: unset
    int fd;
    bool wanted;
  };
  const Case cases[] = {{nullptr, terminal, true}, {"", terminal, true}, {"1", terminal, false},
                        {nullptr, pipeEnds[1], false}};
  for (const Case& c : cases) {
    if (c.noColor == nullptr) {
      unsetenv("NO_COLOR");
    } else {
      setenv("NO_COLOR", c.noColor, 1);
    }
    EXPECT_EQ(ColourWanted(c.fd), c.wanted) << (c.noColor ? c.noColor : "(unset)") << " fd " << c.fd;
  }
  unsetenv("NO_COLOR");
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  close(terminal);
  close(master);
}

std::size_t Count(const std::string& text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(QxsimWriters, TheStoryboardHasAFramePerStepAndNeedsNothingFromOutside) {
  std::ostringstream page;
  {
    StoryboardWriter storyboard(page);
    Transcript("note The client <starts> & shows its button.\nstart client\nexpect process "
               "\"\\Program Files\\Quorvix\\Quorvix.exe\"\nbrowser open\nadvance 2 ticks\ntap button\n",
               false, &storyboard);
  }
  const std::string html = page.str();
  EXPECT_EQ(Count(html, "<article class=\"frame\""), 8u);
  EXPECT_NE(html.find("id=\"story-9\""), std::string::npos);
  EXPECT_NE(html.find("The client &lt;starts&gt; &amp; shows its button."), std::string::npos);
  // The imports, the hidden tray window's start and the check change nothing on the screen.
  EXPECT_EQ(Count(html, "The screen is as before."), 4u);
  // Four pictures, and each unchanged frame's copy for when it is shown alone.
  EXPECT_EQ(Count(html, "<svg "), 8u);
  EXPECT_EQ(Count(html, "<div class=\"again\"><svg "), 4u);
  // Self-contained: no script, and nothing fetched (the SVG namespace is a name, not a fetch).
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("src="), std::string::npos);
  EXPECT_EQ(Count(html, "http"), Count(html, "http://www.w3.org/2000/svg"));
  // The tap's frame: the menu's entries in their order, the gateway entry checked.
  const std::string tap = html.substr(html.find("id=\"story-9\""));
  std::size_t at = 0;
  for (const char* entry : {"About Quorvix", "Settings", "Use Quorvix", "Reset Quorvix", "Quorvix Home"}) {
    const std::size_t next = tap.find(std::string("class=\"menu-entry\">") + entry + "<", at);
    ASSERT_NE(next, std::string::npos) << entry;
    at = next;
  }
  EXPECT_EQ(html.find("</html>"), html.size() - 8);
}

}  // namespace
}  // namespace qx::qxsim
