#include "client/user_agent.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/codepage.h"
#include "platform/sim/ledger.h"
#include "platform/sim/registry.h"
#include "platform/sim/sim.h"
#include "client/profile.h"

namespace {

using qx::GatewayOptions;

constexpr std::u16string_view kEmptyDigest = u"d41d8cd98f00b204e9800998ecf8427e";

std::vector<std::u16string> Fields(std::u16string_view token) {
  std::vector<std::u16string> fields(1);
  for (const char16_t c : token) {
    if (c == u';') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

std::u16string TextOf(const std::vector<qx::BYTE>& data) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

class UserAgentTest : public ::testing::Test {
 protected:
  std::u16string Token(const GatewayOptions& options) { return qx::BuildGatewayToken(codePage_, options); }
  GatewayOptions WithId(std::u16string id) {
    GatewayOptions options;
    options.id = std::move(id);
    return options;
  }
  // The value as written, with its terminator.
  std::optional<qx::sim::RegValue> Written() {
    return registry_.GetValue(qx::HKEY_LOCAL_MACHINE, qx::kUserAgentKey, qx::kUaLanguageName);
  }

  qx::sim::CallLedger ledger_;
  qx::sim::SimCodePage codePage_{ledger_};
  qx::sim::SimRegistry registry_{ledger_};
};

TEST_F(UserAgentTest, ImageLevelField) {
  const struct {
    int useImage;
    int imageLevel;
    int code;
    std::u16string_view field;
  } cases[] = {
      {0, 0, 0, u"00"},  {0, 1, 0, u"00"},   {0, 2, 0, u"00"},  {0, -1, 0, u"00"}, {0, 5, 0, u"00"},
      {1, 0, 10, u"10"}, {1, 1, 20, u"20"},  {1, 2, 90, u"90"}, {1, -1, 90, u"90"}, {1, 5, 90, u"90"},
      {2, 1, 20, u"20"}, {-1, 0, 10, u"10"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(qx::ImageLevelCode(c.useImage, c.imageLevel), c.code) << c.useImage << "/" << c.imageLevel;
    GatewayOptions options;
    options.useImage = c.useImage;
    options.imageLevel = c.imageLevel;
    EXPECT_EQ(Fields(Token(options)).at(5), c.field) << c.useImage << "/" << c.imageLevel;
  }
}

TEST_F(UserAgentTest, TokenFields) {
  GatewayOptions odd = WithId(u"x");
  odd.doc = INT_MIN;
  odd.imageBooster = 12345;
  odd.useNavi = -7;
  GatewayOptions secret = WithId(u"user1");
  secret.scrambledPassword = u"sdaqaq";  // "secret" as stored
  const struct {
    const char* name;
    GatewayOptions options;
    std::u16string_view token;
  } cases[] = {
      {"defaults", WithId(u"user1"), u"user1;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0"},
      {"digest of the unscrambled password", secret, u"user1;5ebe2294ecd0e0f08eab7690d2a6ee69;1;1;0;90;1;0"},
      {"empty id and password", WithId(u""), u";d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0"},
      {"id copied unescaped", WithId(u"a;b)c("), u"a;b)c(;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0"},
      {"hangul id", WithId(u"한글"), u"한글;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0"},
      {"signed decimals", odd, u"x;d41d8cd98f00b204e9800998ecf8427e;1;-2147483648;12345;90;-7;0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Token(c.options), c.token) << c.name;
}

TEST_F(UserAgentTest, ValueOffAndOn) {
  EXPECT_EQ(qx::UaLanguageValue(false, u"ignored;x"), u"JavaScript");
  EXPECT_EQ(qx::UaLanguageValue(true, u"a;b"), u"JavaScript(a;b)");

  ASSERT_TRUE(registry_.CreateKey(qx::HKEY_LOCAL_MACHINE, qx::kUserAgentKey));
  qx::SetUaLanguage(registry_, false, u"whatever");
  auto value = Written();
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, qx::REG_SZ);
  EXPECT_EQ(value->data.size(), 22u);
  EXPECT_EQ(TextOf(value->data), std::u16string(u"JavaScript\0", 11));

  const std::u16string token = Token(WithId(u"user1"));
  qx::SetUaLanguage(registry_, true, token);
  value = Written();
  ASSERT_TRUE(value);
  EXPECT_EQ(TextOf(value->data), u"JavaScript(" + token + u")" + std::u16string(1, u'\0'));
  EXPECT_EQ(registry_.OpenHandleCount(), 0u);
}

TEST_F(UserAgentTest, MissingKeyIsNeverCreated) {
  const std::u16string_view parent = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  ASSERT_TRUE(registry_.CreateKey(qx::HKEY_LOCAL_MACHINE, parent));
  qx::SetUaLanguage(registry_, true, u"t");
  EXPECT_FALSE(registry_.KeyExists(qx::HKEY_LOCAL_MACHINE, qx::kUserAgentKey));
  EXPECT_EQ(ledger_.Count(qx::sim::Call::RegCreateKeyExW), 0u);
  EXPECT_EQ(ledger_.Count(qx::sim::Call::RegSetValueExW), 0u);

  // A key that exists but will not open is left alone as well.
  ASSERT_TRUE(registry_.CreateKey(qx::HKEY_LOCAL_MACHINE, qx::kUserAgentKey));
  ledger_.Plan({.call = qx::sim::Call::RegOpenKeyExW});
  qx::SetUaLanguage(registry_, true, u"t");
  EXPECT_FALSE(Written());
  EXPECT_EQ(registry_.OpenHandleCount(), 0u);
}

// The ID is the only part given up to the 511-character bound. The fields
// after it take 46 characters, so a 453-character ID fills the value exactly.
TEST_F(UserAgentTest, LongIdsAreCutToTheBound) {
  const struct {
    std::size_t idLength;
    std::size_t idKept;
  } cases[] = {{10, 10}, {453, 453}, {454, 453}, {511, 453}, {600, 453}, {5000, 453}};
  ASSERT_TRUE(registry_.CreateKey(qx::HKEY_LOCAL_MACHINE, qx::kUserAgentKey));
  for (const auto& c : cases) {
    std::u16string id;
    for (std::size_t i = 0; i < c.idLength; ++i) id.push_back(static_cast<char16_t>(u'a' + i % 26));
    const std::u16string value = qx::UaLanguageValue(true, Token(WithId(id)));
    const std::u16string expected = u"JavaScript(" + id.substr(0, c.idKept) + u";" + std::u16string(kEmptyDigest) +
                                    u";1;1;0;90;1;0)";
    EXPECT_EQ(value, expected) << c.idLength;
    EXPECT_LE(value.size(), 511u);

    qx::SetUaLanguage(registry_, true, Token(WithId(id)));
    const auto written = Written();
    ASSERT_TRUE(written);
    EXPECT_EQ(written->data.size(), (expected.size() + 1) * 2) << c.idLength;
    EXPECT_TRUE(TextOf(written->data).ends_with(std::u16string(u";0)\0", 4))) << c.idLength;
  }
  EXPECT_EQ(Written()->data.size(), 1024u);
}

TEST_F(UserAgentTest, CutNeverSplitsASurrogatePair) {
  // Pairs only: the 453rd unit, the last that would fit, is a high half.
  std::u16string id;
  while (id.size() < 600) id += u"\U0001F600";
  const std::u16string value = qx::UaLanguageValue(true, Token(WithId(id)));
  EXPECT_EQ(value.size(), 510u);
  EXPECT_TRUE(value.starts_with(u"JavaScript(" + id.substr(0, 452) + u";"));
  EXPECT_TRUE(value.ends_with(u";1;1;0;90;1;0)"));
}

// A token that did not come from BuildGatewayToken still keeps its last
// seven fields, even with ';' in its ID.
TEST_F(UserAgentTest, ForeignTokensKeepTheirTail) {
  const std::u16string tail = u";digest;1;2;3;4;5;6";
  std::u16string id;
  while (id.size() < 700) id += u"i;d";
  const std::u16string value = qx::UaLanguageValue(true, id + tail);
  EXPECT_EQ(value.size(), 511u);
  EXPECT_EQ(value, u"JavaScript(" + id.substr(0, 499 - tail.size()) + tail + u")");

  EXPECT_EQ(qx::UaLanguageValue(true, std::u16string(900, u'z')).size(), 511u);
}

// The composer reads the stored switch as every reader but the start-up
// does: exactly 1 is on, and any other number gives the plain value.
TEST(UserAgentProfile, OnlyAStoredOneCarriesTheToken) {
  struct ProfileApp : qx::CWinApp {
    explicit ProfileApp(qx::Platform& platform) : CWinApp(platform, u"Quorvix") { SetRegistryKey(u"Brennic Inc"); }
    qx::BOOL InitInstance() override { return qx::FALSE; }
  };
  struct Case {
    std::optional<int> stored;
    std::u16string_view value;
  };
  const std::u16string_view on = u"JavaScript(;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0)";
  for (const Case& c : {Case{1, on}, Case{0, u"JavaScript"}, Case{2, u"JavaScript"}, Case{-1, u"JavaScript"},
                        Case{std::nullopt, u"JavaScript"}}) {
    qx::sim::SimDevice device;
    device.registry().CreateKey(qx::HKEY_LOCAL_MACHINE, qx::kUserAgentKey);
    ProfileApp app(device.platform());
    if (c.stored) app.WriteProfileInt(u"Quorvix", u"USEQUORVIX", *c.stored);
    qx::UpdateUserAgent(app, qx::kUserAgentKey);
    const auto written = device.registry().GetValue(qx::HKEY_LOCAL_MACHINE, qx::kUserAgentKey, u"UA-Language");
    ASSERT_TRUE(written);
    EXPECT_EQ(TextOf(written->data), std::u16string(c.value) + u'\0') << (c.stored ? *c.stored : 99);
  }
}

}  // namespace
