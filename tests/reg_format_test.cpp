#include "platform/sim/reg_format.h"

#include <gtest/gtest.h>

#include "platform/sim/text.h"
#include "tests/test_bytes.h"

namespace qx::sim {
namespace {

using namespace qx::testing_bytes;


using Bytes = std::vector<BYTE>;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

std::string Repeat(std::string_view part, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += part;
  return out;
}

class RegFormatTest : public ::testing::Test {
 protected:
  std::string ExportKey(std::u16string path) { return ExportReg(reg, std::pair{HKEY_LOCAL_MACHINE, path}); }

  CallLedger ledger;
  SimRegistry reg{ledger};
};

TEST_F(RegFormatTest, RendersEachTypeAsRegeditDoes) {
  struct Case {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
    std::string expected;
  };
  const Case cases[] = {
      {"string", REG_SZ, Sz(u"proxy.example:1080"), "\"proxy.example:1080\""},
      {"escapes", REG_SZ, Sz(u"C:\\dir \"q\""), R"("C:\\dir \"q\"")"},
      {"Hangul", REG_SZ, Sz(u"접속 설정"), "\"접속 설정\""},
      {"empty string", REG_SZ, Sz(u""), "\"\""},
      {"no terminator", REG_SZ, {0x61, 0}, "hex(1):61,00"},
      {"odd size", REG_SZ, {0x61, 0, 0}, "hex(1):61,00,00"},
      {"zero inside", REG_SZ, Utf16Bytes(u"a", 6), "hex(1):61,00,00,00,00,00"},
      {"line break", REG_SZ, Sz(u"a\nb"), "hex(1):61,00,0a,00,62,00,00,00"},
      {"lone surrogate", REG_SZ, Sz(u"\xD800"), "hex(1):00,d8,00,00"},
      {"dword", REG_DWORD, {0x38, 0x04, 0, 0xA0}, "dword:a0000438"},
      {"short dword", REG_DWORD, {1, 2, 3}, "hex(4):01,02,03"},
      {"binary", REG_BINARY, {0, 0xff, 0x10}, "hex:00,ff,10"},
      {"empty binary", REG_BINARY, {}, "hex:"},
      {"none", REG_NONE, {}, "hex(0):"},
      {"expand", REG_EXPAND_SZ, Sz(u"%x"), "hex(2):25,00,78,00,00,00"},
      {"multi", REG_MULTI_SZ, {0x61, 0, 0, 0, 0, 0}, "hex(7):61,00,00,00,00,00"},
      {"other type", 0x1234abcd, {7}, "hex(1234abcd):07"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RegValueDataText(c.type, c.data), c.expected) << c.what;
    reg.SetValue(HKEY_LOCAL_MACHINE, u"K", u"V", c.type, c.data);
    EXPECT_EQ(ExportKey(u"k"), kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"V\"=" + c.expected + "\n\n") << c.what;
    // Each form reads back to the very bytes.
    SimRegistry copy(ledger);
    ASSERT_FALSE(ImportReg(copy, ExportReg(reg), "t.reg")) << c.what;
    EXPECT_EQ(copy.GetValue(HKEY_LOCAL_MACHINE, u"K", u"V"), (RegValue{u"V", c.type, c.data})) << c.what;
  }
}

TEST_F(RegFormatTest, ExportsEveryKeyInOrder) {
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-2", u"", REG_SZ, Sz(u"d"));
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-2", u"Say \"hi\"\\", REG_DWORD, Bytes{1, 0, 0, 0});
  reg.CreateKey(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-2\\Empty");
  reg.CreateKey(HKEY_LOCAL_MACHINE, u"Comm\\Alpha");
  reg.SetValue(HKEY_CURRENT_USER, u"", u"OnRoot", REG_BINARY, Bytes{5});
  reg.CreateKey(HKEY_CLASSES_ROOT, u"x");
  EXPECT_EQ(ExportReg(reg), kHeader +
                                "[HKEY_CLASSES_ROOT\\x]\n\n"
                                "[HKEY_CURRENT_USER]\n\"OnRoot\"=hex:05\n\n"
                                "[HKEY_LOCAL_MACHINE\\Comm]\n\n"
                                "[HKEY_LOCAL_MACHINE\\Comm\\SOCKS-2]\n@=\"d\"\n\"Say \\\"hi\\\"\\\\\"=dword:00000001\n\n"
                                "[HKEY_LOCAL_MACHINE\\Comm\\SOCKS-2\\Empty]\n\n"
                                "[HKEY_LOCAL_MACHINE\\Comm\\Alpha]\n\n");
  // A scope is spelled as stored; a missing one gives the header alone.
  EXPECT_EQ(ExportKey(u"COMM\\socks-2\\empty"), kHeader + "[HKEY_LOCAL_MACHINE\\Comm\\SOCKS-2\\Empty]\n\n");
  EXPECT_EQ(ExportKey(u"Comm\\Missing"), kHeader);
  EXPECT_EQ(ExportReg(SimRegistry(ledger)), kHeader);
}

TEST_F(RegFormatTest, LongHexWrapsAndReadsBack) {
  std::vector<BYTE> data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i);
  reg.SetValue(HKEY_LOCAL_MACHINE, u"K", u"Blob", REG_BINARY, data);
  const std::string text = ExportKey(u"K");
  std::size_t lines = 0;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1, ++lines) {
    const std::string_view line(text.data() + start, end - start);
    EXPECT_LE(line.size(), 80u) << line;
    if (line.ends_with('\\')) {
      EXPECT_TRUE(line.ends_with(",\\")) << line;
    }
    if (start > 0 && text[start - 2] == '\\') {
      EXPECT_TRUE(line.starts_with("  ") && line[2] != ' ') << line;
    }
  }
  EXPECT_GT(lines, 14u);
  SimRegistry copy(ledger);
  ASSERT_FALSE(ImportReg(copy, text, "blob.reg"));
  EXPECT_EQ(copy.Image(), reg.Image());
}

TEST_F(RegFormatTest, ImportsEverySyntaxElement) {
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\Old\\Below", u"v", REG_NONE, {});
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\Keep", u"Drop", REG_DWORD, Bytes{1, 0, 0, 0});
  HKEY stale = nullptr;
  ASSERT_EQ(reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Comm\\Old\\Below", 0, &stale), ERROR_SUCCESS);
  const std::string text =
      "\xEF\xBB\xBF"
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[-HKLM\\Comm\\Old]\r\n"
      "[hkey_local_machine\\Comm\\Keep]\r\n"
      "\"Drop\"=-\r\n"
      "@=\"default\"\r\n"
      "  \"Str\" = \"a \\\"b\\\" \\\\ c\"  \r\n"
      "\"Num\"=DWORD:0000ABCD\r\n"
      "\"Bin\"=hex:01,02,\\\r\n"
      "    03, 04\r\n"
      "\"Typed\"=hex(7):61,00,00,00,00,00\r\n"
      "[HKCU\\Empty]\r\n"
      "[HKCR\\접속]\r\n"
      "\"이름\"=\"값\"\r\n";
  ASSERT_EQ(ImportReg(reg, text, "all.reg"), std::nullopt);
  EXPECT_FALSE(reg.KeyExists(HKEY_LOCAL_MACHINE, u"Comm\\Old"));
  EXPECT_EQ(reg.Values(HKEY_LOCAL_MACHINE, u"Comm\\Keep"),
            (std::vector<RegValue>{{u"", REG_SZ, Sz(u"default")},
                                   {u"Str", REG_SZ, Sz(u"a \"b\" \\ c")},
                                   {u"Num", REG_DWORD, {0xcd, 0xab, 0, 0}},
                                   {u"Bin", REG_BINARY, {1, 2, 3, 4}},
                                   {u"Typed", REG_MULTI_SZ, {0x61, 0, 0, 0, 0, 0}}}));
  EXPECT_TRUE(reg.KeyExists(HKEY_CURRENT_USER, u"Empty"));
  EXPECT_EQ(reg.GetValue(HKEY_CLASSES_ROOT, u"접속", u"이름"), (RegValue{u"이름", REG_SZ, Sz(u"값")}));
  HKEY out = nullptr;
  EXPECT_EQ(reg.RegOpenKeyExW(stale, u"", 0, &out), ERROR_KEY_DELETED);
  EXPECT_EQ(reg.RegCloseKey(stale), ERROR_SUCCESS);
}

TEST_F(RegFormatTest, ReadsUtf16WithByteOrderMark) {
  const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\한]\r\n\"v\"=\"글\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  ASSERT_EQ(ImportReg(reg, bytes, "wide.reg"), std::nullopt);
  EXPECT_EQ(reg.GetValue(HKEY_LOCAL_MACHINE, u"한", u"v"), (RegValue{u"v", REG_SZ, Sz(u"글")}));
}

TEST_F(RegFormatTest, RejectsMalformedFilesWholeWithTheLine) {
  struct Case {
    std::string body;  // after the header line
    std::size_t line;
    std::string message;
  };
  const Case cases[] = {
      {"[HKEY_USERS\\X]", 3, "unknown root key \"HKEY_USERS\""},
      {"[HKLM\\A]\n\"v\"=hex:01,0g", 4, "bad hex byte \"0g\""},
      {"[HKLM\\A]\n\"v\"=hex:01,\\\n  02,,03", 5, "missing hex byte"},
      {"[HKLM\\A]\n\"v\"=hex:01,\\\n  02,\\\n  123", 6, "bad hex byte \"123\""},
      {"[HKLM\\A]\n\"v\"=hex(1x):00", 4, "bad value type"},
      {"[HKLM\\A]\n\"v\"=dword:0001", 4, "dword needs exactly 8 hex digits"},
      {"[HKLM\\A]\n\"v\"=dword:123456789", 4, "dword needs exactly 8 hex digits"},
      {"[HKLM\\A]\n\"v\"=\"open", 4, "unterminated string"},
      {"[HKLM\\A]\n\"v=\"x\"", 4, "expected '='"},
      {"[HKLM\\A]\n\"v\"=\"x\" y", 4, "unexpected text after the closing quote"},
      {"[HKLM\\A]\n\"v\"=\"a\\nb\"", 4, "unknown escape"},
      {"[HKLM\\A]\n\"v\"=str:x", 4, "unrecognised value data"},
      {"[HKLM\\A]\ngarbage", 4, "unrecognised line"},
      {"[HKLM\\A", 3, "closing ']'"},
      {"[HKLM\\A\\\\B]", 3, "bad key path"},
      {"[HKLM\\" + std::string(256, 'k') + "]", 3, "bad key path"},
      {"[-HKLM]", 3, "a root key cannot be deleted"},
      {"[-HKLM\\A]\n\"v\"=\"x\"", 4, "under a key that is being deleted"},
      // Names an export could not write back, and text that is not UTF-8.
      {"[HKLM\\A" + std::string(1, '\0') + "B]", 3, "a key name holds U+0000, which a .reg file cannot carry"},
      {"[HKLM\\A]\n\"a" + std::string(1, '\0') + "b\"=dword:00000001", 4, "a value name holds U+0000"},
      {"[HKLM\\A\x01]", 3, "a key name holds U+0001"},
      {"[HKLM\\A]\n\"a\x1b\"=dword:00000001", 4, "a value name holds U+001B"},
      {"[HKLM\\A]\n\"v\"=\"caf\xE9\"", 4, "the line is not UTF-8: byte 0xE9 at column 9"},
      {"[HKLM\\\xC3\x28]", 3, "the line is not UTF-8: byte 0xC3 at column 7"},
      {"[HKLM" + Repeat("\\k", 513) + "]", 3, "deeper than 512 levels"},
  };
  reg.SetValue(HKEY_LOCAL_MACHINE, u"A", u"v", REG_SZ, Sz(u"before"));
  const RegistryImage before = reg.Image();
  for (const Case& c : cases) {
    // Valid changes above the bad line must not be applied either.
    const auto error = ImportReg(reg, "Windows Registry Editor Version 5.00\n[HKLM\\New]\n" + c.body, "bad.reg");
    ASSERT_TRUE(error.has_value()) << c.body;
    EXPECT_EQ(error->line, c.line) << c.body;
    EXPECT_NE(error->message.find(c.message), std::string::npos) << c.body << " -> " << error->message;
    EXPECT_EQ(reg.Image(), before) << c.body;
  }
  const auto noHeader = ImportReg(reg, "\n; note\n[HKLM\\A]\n", "x.reg");
  ASSERT_TRUE(noHeader.has_value());
  EXPECT_EQ(noHeader->ToString().substr(0, 8), "x.reg:2:");
  const auto noKey = ImportReg(reg, "Windows Registry Editor Version 5.00\n\n\"v\"=dword:00000001\n", "k.reg");
  ASSERT_TRUE(noKey.has_value());
  EXPECT_EQ(noKey->ToString(), "k.reg:3: value line before any [KEY] line");
  EXPECT_EQ(ImportReg(reg, "", "empty.reg")->line, 1u);
  EXPECT_EQ(ImportReg(reg, "REGEDIT4\n", "old.reg")->line, 1u);
}

// Editors save with or without a byte order mark and with any line end.
TEST_F(RegFormatTest, ReadsAnyLineEndWithOrWithoutByteOrderMark) {
  for (std::string_view mark : {"", "\xEF\xBB\xBF"}) {
    for (std::string_view end : {"\r\n", "\n", "\r"}) {
      SimRegistry fresh(ledger);
      const std::string text = std::string(mark) + "Windows Registry Editor Version 5.00" + std::string(end) +
                               std::string(end) + "[HKLM\\A]" + std::string(end) + "\"v\"=hex:01,\\" +
                               std::string(end) + "  02" + std::string(end) + "\"w\"=dword:00000003";
      ASSERT_EQ(ImportReg(fresh, text, "x.reg"), std::nullopt) << ::testing::PrintToString(text);
      EXPECT_EQ(fresh.GetValue(HKEY_LOCAL_MACHINE, u"A", u"v"), (RegValue{u"v", REG_BINARY, Bytes{1, 2}}));
      EXPECT_EQ(fresh.GetValue(HKEY_LOCAL_MACHINE, u"A", u"w"), (RegValue{u"w", REG_DWORD, Bytes{3, 0, 0, 0}}));
      const auto error = ImportReg(fresh, text + std::string(end) + "junk", "x.reg");
      ASSERT_TRUE(error.has_value());
      EXPECT_EQ(error->line, 7u);
    }
  }
  SimRegistry deep(ledger);
  EXPECT_EQ(ImportReg(deep, kHeader + "[HKLM" + Repeat("\\k", 512) + "]\n", "deep.reg"), std::nullopt);
}

// A name the text cannot carry is refused by name; any other reads back.
TEST_F(RegFormatTest, ExportRoundTripsEveryNameOrRefusesIt) {
  struct Case {
    const char* what;
    std::u16string key;
    std::u16string value;
    const char* refused;  // the character named, or null
  };
  const Case cases[] = {
      {"line feed in a key name", u"A\nB", u"v", "U+000A"},
      {"carriage return in a value name", u"A", u"v\r", "U+000D"},
      {"lone high surrogate in a value name", u"A", u"v\xD800", "U+D800"},
      {"lone low surrogate in a key name", u"\xDC00", u"v", "U+DC00"},
      {"high surrogate at the end", u"A\xDBFF", u"v", "U+DBFF"},
      {"tab", u"A\tB", u"v\tw", nullptr},
      {"surrogate pair", u"\xD83D\xDE00", u"\xD83D\xDE00", nullptr},
      {"brackets and quotes", u"[A]", u"\"q\" \\", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimRegistry source(ledger);
    ASSERT_TRUE(source.SetValue(HKEY_CURRENT_USER, u"Top\\" + c.key, c.value, REG_DWORD, Bytes{1, 0, 0, 0}));
    const auto problem = UnwritableName(source.Image());
    const auto scoped = UnwritableName(source.Image(), std::pair{HKEY_CURRENT_USER, std::u16string(u"Top")});
    if (c.refused != nullptr) {
      ASSERT_TRUE(problem.has_value());
      EXPECT_NE(problem->find(c.refused), std::string::npos) << *problem;
      EXPECT_TRUE(scoped.has_value());
      continue;
    }
    EXPECT_EQ(problem, std::nullopt);
    EXPECT_EQ(scoped, std::nullopt);
    SimRegistry copy(ledger);
    ASSERT_EQ(ImportReg(copy, ExportReg(source), "names.reg"), std::nullopt);
    EXPECT_EQ(copy.Image(), source.Image());
  }
}

TEST_F(RegFormatTest, RoundTripIsStable) {
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1", u"Server", REG_SZ, Utf16Bytes(u"abc", 260));
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1", u"사용자", REG_SZ, Sz(u"홍길동"));
  reg.SetValue(HKEY_CURRENT_USER, u"A\\B", u"", REG_DWORD, Bytes{1, 2});
  reg.CreateKey(HKEY_CLASSES_ROOT, u"Empty");
  const std::string first = ExportReg(reg);
  EXPECT_NE(first.find("\"Server\"=hex(1):61,00,62,00,63,00,00,00"), std::string::npos);
  SimRegistry copy(ledger);
  ASSERT_EQ(ImportReg(copy, first, "first.reg"), std::nullopt);
  EXPECT_EQ(copy.Image(), reg.Image());
  EXPECT_EQ(ExportReg(copy), first);
}

}  // namespace
}  // namespace qx::sim
