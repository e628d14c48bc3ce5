// The tray client's start and end on the simulated device: the gateway
// switch it applies, the profile it keeps, what it leaves behind.
#include <gtest/gtest.h>

#include "client/quorvix.h"
#include "platform/sim/sim.h"
#include "tests/test_bytes.h"

namespace qx {
namespace {

using namespace qx::testing_bytes;

constexpr std::u16string_view kClientPath = u"\\Program Files\\Quorvix\\Quorvix.exe";
constexpr std::u16string_view kProfileKey = u"Software\\Brennic Inc\\Quorvix\\Quorvix";
const std::u16string kHttpEntry = std::u16string(kProviderKey) + u"\\HTTP-x";
const std::u16string kSocksEntry = std::u16string(kProviderKey) + u"\\SOCKS-x";

class ClientStartup : public ::testing::Test {
 protected:
  void SetUp() override {
    device.kernel().InstallProgram(kClientPath, {[](Platform& platform, std::u16string_view) {
                                                   return RunQuorvix(platform, kClient2002Build);
                                                 },
                                                 {128, 133, 134}});
    auto& reg = device.registry();
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"DestId", REG_SZ, Sz(u"{dest}"));
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"SrcId", REG_SZ, Sz(u"{src}"));
  }

  std::optional<sim::RegValue> Http(std::u16string_view name) {
    return device.registry().GetValue(HKEY_LOCAL_MACHINE, kHttpEntry, name);
  }

  HWND ClientWindow() {
    for (const auto& window : device.kernel().TopLevelWindows()) {
      if (window.className == u"Dialog" && device.kernel().ProcessImage(window.processId) == kClientPath) {
        return window.hwnd;
      }
    }
    return nullptr;
  }

  sim::SimDevice device;
};

TEST_F(ClientStartup, FirstStartSwitchesTheGatewayOnAndTheFirstTickOff) {
  ASSERT_NE(device.kernel().StartProgram(kClientPath, u""), 0u);
  auto stored = device.registry().GetValue(HKEY_CURRENT_USER, kProfileKey, u"USEQUORVIX");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, REG_DWORD);
  EXPECT_EQ(stored->data, Dword(1));
  EXPECT_EQ(Http(u"Type")->data, Dword(1));
  EXPECT_EQ(Http(u"Proxy")->data, Sz(u"gw.quorvix.net:8000"));
  EXPECT_TRUE(device.registry().KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry));

  device.kernel().AdvanceTime(200);
  EXPECT_EQ(Http(u"Type")->data, Dword(0));
  EXPECT_EQ(Http(u"Proxy")->data, Sz(u"wap.mobilenet.co.kr:1850"));
  EXPECT_FALSE(device.registry().KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry));
  EXPECT_EQ(device.registry().GetValue(HKEY_CURRENT_USER, kProfileKey, u"USEQUORVIX")->data, Dword(1));
}

TEST_F(ClientStartup, ClosingLeavesTheEntriesOffAndClosesEveryHandle) {
  device.kernel().StartProgram(kClientPath, u"");
  const HWND window = ClientWindow();
  ASSERT_NE(window, nullptr);
  device.kernel().CloseWindow(window);
  EXPECT_EQ(ClientWindow(), nullptr);
  EXPECT_EQ(Http(u"Type")->data, Dword(0));
  EXPECT_FALSE(device.registry().KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry));
  EXPECT_EQ(device.OpenHandles(), 0u);
}

// Each edition writes the browser's own User-Agent key of its system and
// leaves the other system's key alone.
TEST_F(ClientStartup, EachEditionWritesItsBrowsersUserAgentKey) {
  constexpr std::u16string_view k2002Key = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent";
  constexpr std::u16string_view k2003Key =
      u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\5.0\\User Agent";
  constexpr std::u16string_view kToken = u"JavaScript(;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0)";
  struct Case {
    const DeviceControlBuild* build;
    std::u16string_view written;
    std::u16string_view untouched;
  };
  for (const Case& c : {Case{&kClient2002Build, k2002Key, k2003Key}, Case{&kClient2003Build, k2003Key, k2002Key}}) {
    sim::SimDevice fresh;
    const DeviceControlBuild* build = c.build;
    constexpr std::u16string_view path = u"\\Program Files\\Quorvix\\Quorvix2003.exe";
    fresh.kernel().InstallProgram(path, {[build](Platform& platform, std::u16string_view) {
                                           return RunQuorvix(platform, *build);
                                         },
                                         {128, 133, 134}});
    for (std::u16string_view key : {k2002Key, k2003Key}) {
      fresh.registry().SetValue(HKEY_LOCAL_MACHINE, key, u"UA-Language", REG_SZ, Sz(u"before"));
    }
    ASSERT_NE(fresh.kernel().StartProgram(path, u""), 0u);
    EXPECT_EQ(fresh.registry().GetValue(HKEY_LOCAL_MACHINE, c.written, u"UA-Language")->data, Sz(kToken));
    EXPECT_EQ(fresh.registry().GetValue(HKEY_LOCAL_MACHINE, c.untouched, u"UA-Language")->data, Sz(u"before"));
  }
}

}  // namespace
}  // namespace qx
