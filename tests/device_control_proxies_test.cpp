// Connection Manager proxy entries on the simulated device's registry.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "devicecontrol/device_control.h"
#include "platform/sim/sim.h"

namespace qx {
namespace {

using sim::Call;
using sim::RegValue;

constexpr std::u16string_view kHttp = u"gw.quorvix.net:8000";
constexpr std::u16string_view kSocks = u"gw.quorvix.net:8888";

std::vector<BYTE> Utf16(std::u16string_view text, bool terminator = true) {
  std::vector<BYTE> bytes;
  for (char16_t c : text) bytes.insert(bytes.end(), {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8)});
  if (terminator) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}
RegValue Sz(std::u16string_view name, std::u16string_view text) { return {std::u16string(name), REG_SZ, Utf16(text)}; }
RegValue Dw(std::u16string_view name, BYTE value) { return {std::u16string(name), REG_DWORD, {value, 0, 0, 0}}; }
std::vector<RegValue> Twin(std::u16string_view dest, std::u16string_view src) {
  return {Sz(u"ExtraInfo", u""), Sz(u"Override", u""), Sz(u"Username", u""), Sz(u"Proxy", kSocks),
          Dw(u"Enable", 1),      Dw(u"Type", 4),       Sz(u"DestId", dest),   Sz(u"SrcId", src)};
}

class ProxiesTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(reg().OpenHandleCount(), 0u) << "a registry key was left open"; }
  sim::SimRegistry& reg() { return device_.registry(); }
  static std::u16string Path(std::u16string_view entry) {
    return std::u16string(kProviderKey) + u"\\" + std::u16string(entry);
  }
  // An entry with these values; an empty list just creates it.
  void Entry(std::u16string_view entry, const std::vector<RegValue>& values = {}) {
    ASSERT_TRUE(reg().CreateKey(HKEY_LOCAL_MACHINE, Path(entry)));
    for (const RegValue& v : values) {
      ASSERT_TRUE(reg().SetValue(HKEY_LOCAL_MACHINE, Path(entry), v.name, v.type, v.data));
    }
  }
  std::vector<RegValue> Values(std::u16string_view entry) { return reg().Values(HKEY_LOCAL_MACHINE, Path(entry)); }
  bool Exists(std::u16string_view entry) { return reg().KeyExists(HKEY_LOCAL_MACHINE, Path(entry)); }

  sim::SimDevice device_;
  CDeviceControl control_{device_.platform(), kClient2002Build};
};

TEST_F(ProxiesTest, OnAndOffRoundTrip) {
  Entry(u"HTTP-x", {Sz(u"DestId", u"{d}"), Sz(u"SrcId", u"{s}")});
  Entry(u"MyHTTPProxy");
  Entry(u"SOCKS-x", {Sz(u"Keep", u"theirs")});  // there before: overwritten in place, and removed by off
  Entry(u"WAP", {Sz(u"Proxy", u"wap:1")});
  Entry(u"SOCKS-y", {Sz(u"Proxy", u"socks:2")});
  Entry(u"http-z", {Sz(u"Proxy", u"lower:3")});  // "HTTP" is matched with its case
  const auto othersUntouched = [&] {
    EXPECT_EQ(Values(u"WAP"), std::vector<RegValue>{Sz(u"Proxy", u"wap:1")});
    EXPECT_EQ(Values(u"SOCKS-y"), std::vector<RegValue>{Sz(u"Proxy", u"socks:2")});
    EXPECT_EQ(Values(u"http-z"), std::vector<RegValue>{Sz(u"Proxy", u"lower:3")});
  };

  EXPECT_EQ(control_.ConfigureProxies(TRUE, control_.GatewayHttpProxy(), control_.GatewaySocksProxy()), TRUE);
  EXPECT_EQ(Values(u"HTTP-x"), (std::vector<RegValue>{Sz(u"DestId", u"{d}"), Sz(u"SrcId", u"{s}"), Dw(u"Type", 1),
                                                      Dw(u"Enable", 1), Sz(u"Proxy", kHttp)}));
  std::vector<RegValue> twin = Twin(u"{d}", u"{s}");
  twin.insert(twin.begin(), Sz(u"Keep", u"theirs"));
  EXPECT_EQ(Values(u"SOCKS-x"), twin);
  EXPECT_EQ(Values(u"SOCKSTPProxy"), Twin(u"", u"")) << "twin named from the fifth character on";
  othersUntouched();
  EXPECT_EQ(control_.IsGatewayProxyActive(), TRUE);

  // On again is on once: same contents, no key created.
  const sim::RegistryImage once = reg().Image();
  const std::size_t creates = device_.ledger().Count(Call::RegCreateKeyExW);
  control_.ConfigureProxies(TRUE, kHttp, kSocks);
  EXPECT_EQ(reg().Image(), once);
  EXPECT_EQ(device_.ledger().Count(Call::RegCreateKeyExW), creates);

  EXPECT_EQ(control_.ConfigureProxies(FALSE, u"", u""), TRUE);
  EXPECT_EQ(Values(u"HTTP-x"), (std::vector<RegValue>{Sz(u"DestId", u"{d}"), Sz(u"SrcId", u"{s}"), Dw(u"Type", 0),
                                                      Dw(u"Enable", 1), Sz(u"Proxy", u"wap.mobilenet.co.kr:1850")}));
  EXPECT_FALSE(Exists(u"SOCKS-x"));
  EXPECT_FALSE(Exists(u"SOCKSTPProxy"));
  othersUntouched();
  EXPECT_EQ(control_.IsGatewayProxyActive(), FALSE);
}

TEST_F(ProxiesTest, OffWritesTheDefaultProxyOfEachBuild) {
  Entry(u"HTTP-x");
  for (const auto& [build, proxy] : {std::pair{&kClient2002Build, u"wap.mobilenet.co.kr:1850"},
                                     std::pair{&kLauncher2002Build, u"wap.mobilenet.co.kr:1850"},
                                     std::pair{&kLauncher2003Build, u"wap.mobilenet.co.kr:1159"},
                                     std::pair{&kClient2003Build, u"wap.mobilenet.co.kr:1159"}}) {
    CDeviceControl(device_.platform(), *build).ConfigureProxies(FALSE, u"", u"");
    EXPECT_EQ(Values(u"HTTP-x"), (std::vector<RegValue>{Dw(u"Type", 0), Dw(u"Enable", 1), Sz(u"Proxy", proxy)}));
  }
}

TEST_F(ProxiesTest, NetworkIdsThatDoNotFitTheBufferBecomeEmpty) {
  const std::u16string fits(511, u'a');  // 1024 bytes with its terminator
  const struct {
    std::optional<RegValue> destId;  // nullopt: none
    std::u16string copied;
  } cases[] = {
      {std::nullopt, u""},  // written as 2 bytes: the terminator
      {Sz(u"DestId", fits), fits},
      {Sz(u"DestId", fits + u"b"), u""},
      {RegValue{u"DestId", REG_SZ, Utf16(fits + u"b", false)}, u""},  // fills 1024 bytes, no terminator
      {Dw(u"DestId", 7), u""},
  };
  for (const auto& c : cases) {
    reg().DeleteKey(HKEY_LOCAL_MACHINE, kProviderKey);
    Entry(u"HTTP-x", {Sz(u"SrcId", u"s")});
    if (c.destId) Entry(u"HTTP-x", {*c.destId});
    control_.ConfigureProxies(TRUE, kHttp, kSocks);
    EXPECT_EQ(Values(u"SOCKS-x"), Twin(c.copied, u"s")) << c.copied.size();
  }
}

TEST_F(ProxiesTest, EntryThatDoesNotOpenIsNotWrittenButItsTwinIsHandled) {
  const std::vector<RegValue> before{Sz(u"Proxy", u"old:1"), Sz(u"DestId", u"d")};
  Entry(u"HTTP-x", before);
  // Every open after the provider key's fails: the entry, the twin (which
  // is then created) and the network identifiers.
  for (BOOL enable : {TRUE, FALSE}) {
    device_.ledger().ClearFaults();
    device_.ledger().Plan({Call::RegOpenKeyExW, 2, 0, ERROR_ACCESS_DENIED});
    control_.ConfigureProxies(enable, kHttp, kSocks);
    EXPECT_EQ(Values(u"HTTP-x"), before);
    if (enable) {
      EXPECT_EQ(Values(u"SOCKS-x"), Twin(u"", u""));
    }
  }
  EXPECT_FALSE(Exists(u"SOCKS-x"));
}

TEST_F(ProxiesTest, GatewayCheck) {
  const struct {
    std::vector<std::pair<std::u16string_view, std::vector<RegValue>>> entries;
    BOOL active;
  } cases[] = {
      {{}, TRUE},
      {{{u"WAP", {Sz(u"Proxy", u"wap:1")}}}, TRUE},
      {{{u"HTTP-x", {}}}, TRUE},                                          // no "Proxy"
      {{{u"HTTP-x", {Sz(u"Proxy", std::u16string(128, u'g'))}}}, TRUE},  // too long to read
      {{{u"HTTP-x", {Dw(u"Proxy", 1)}}}, TRUE},                           // not a string
      {{{u"HTTP-x", {Sz(u"Proxy", std::u16string(127, u'g'))}}}, FALSE},
      {{{u"HTTP-x", {Sz(u"Proxy", kHttp)}}, {u"SOCKS-x", {Sz(u"Proxy", u"x:1")}}}, TRUE},
      {{{u"HTTP-x", {Sz(u"Proxy", u"GW.quorvix.net:8000")}}}, FALSE},
      {{{u"HTTP-a", {Sz(u"Proxy", kHttp)}}, {u"HTTP-b", {Sz(u"Proxy", u"wap.mobilenet.co.kr:1850")}}}, FALSE},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    reg().DeleteKey(HKEY_LOCAL_MACHINE, kProviderKey);
    for (const auto& [name, values] : cases[i].entries) Entry(name, values);
    EXPECT_EQ(control_.IsGatewayProxyActive(), cases[i].active) << "case " << i;
  }
  // Without the provider key nothing changes, and the switch still succeeds.
  reg().DeleteKey(HKEY_LOCAL_MACHINE, kProviderKey);
  const sim::RegistryImage before = reg().Image();
  EXPECT_EQ(control_.ConfigureProxies(TRUE, kHttp, kSocks), TRUE);
  EXPECT_EQ(reg().Image(), before);
  // An address too long for the 512-character buffer changes nothing.
  Entry(u"HTTP-x");
  const sim::RegistryImage empty = reg().Image();
  EXPECT_EQ(control_.ConfigureProxies(TRUE, std::u16string(512, u'p'), kSocks), FALSE);
  EXPECT_EQ(reg().Image(), empty);
}

TEST_F(ProxiesTest, EnumerationStopsAtTheFirstError) {
  for (std::u16string_view name : {u"A", u"B", u"C"}) Entry(name);
  const struct {
    std::size_t nth, times;
    LONG error;
    BOOL result;
    std::vector<std::u16string> names;
  } cases[] = {
      {0, 0, 0, TRUE, {u"A", u"B", u"C"}},
      {2, 1, ERROR_MORE_DATA, FALSE, {u"A"}},
      {1, 0, sim::ERROR_KEY_DELETED, FALSE, {}},  // the same error at every index
  };
  for (const auto& c : cases) {
    device_.ledger().ClearFaults();
    if (c.nth != 0) device_.ledger().Plan({Call::RegEnumKeyExW, c.nth, c.times, c.error});
    CKeyNameList names(512);
    names.Add(u"stale");
    EXPECT_EQ(control_.EnumSubkeyNames(HKEY_LOCAL_MACHINE, kProviderKey, names), c.result);
    EXPECT_EQ(std::vector<std::u16string>(names.begin(), names.end()), c.names);
  }
}

// A record holds a name and its terminator: a record of N characters takes
// names of up to N - 1, and a list without records takes none.
TEST(KeyNameList, ANameMustLeaveRoomForItsTerminator) {
  struct Case {
    std::size_t recordChars;
    std::size_t nameChars;
    bool added;
  };
  for (const Case& c : {Case{512, 511, true}, Case{512, 512, false}, Case{4, 3, true}, Case{4, 4, false},
                        Case{1, 0, true}, Case{1, 1, false}, Case{0, 0, false}}) {
    CKeyNameList names(c.recordChars);
    EXPECT_EQ(names.Add(std::u16string(c.nameChars, u'n')), c.added) << c.recordChars << " " << c.nameChars;
    EXPECT_EQ(names.size(), c.added ? 1u : 0u);
  }
}

}  // namespace
}  // namespace qx
