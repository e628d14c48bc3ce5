// The shell's streaming open commands on the simulated device's registry.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "devicecontrol/device_control.h"
#include "platform/sim/sim.h"

namespace qx {
namespace {

using sim::RegValue;

constexpr std::u16string_view kLauncher = u"\"\\Program Files\\Quorvix\\stv.exe\" \"%1\"";
constexpr std::u16string_view kSaved = u"\\Windows\\wmplayer.exe %1";
constexpr std::u16string_view kPlayer8 = u"\"\\Program Files\\Windows Media Player 8\\player.exe\" \"%1\"";

// The text, then zeros up to size bytes (0: just its terminator).
std::vector<BYTE> Utf16(std::u16string_view text, std::size_t size = 0) {
  std::vector<BYTE> bytes(size != 0 ? size : (text.size() + 1) * 2, 0);
  for (std::size_t i = 0; i < text.size() && 2 * i + 1 < bytes.size(); ++i) {
    bytes[2 * i] = static_cast<BYTE>(text[i]);
    bytes[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
  return bytes;
}
// As an open command is written: the text, its terminator, zeros to 260 bytes.
RegValue Command(std::u16string_view text) { return {u"", REG_SZ, Utf16(text, 260)}; }

class MediaHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::u16string_view key : kStreamingOpenCommandKeys) Set(HKEY_CLASSES_ROOT, key, {u"", REG_SZ, Utf16(u"old")});
    Settings({{u"wmp_path", REG_SZ, Utf16(kSaved)}, {u"qx_install_path", REG_SZ, Utf16(u"\\Program Files\\Quorvix")}});
  }
  void TearDown() override { EXPECT_EQ(reg().OpenHandleCount(), 0u) << "a registry key was left open"; }

  sim::SimRegistry& reg() { return device_.registry(); }
  void Set(HKEY root, std::u16string_view path, const RegValue& v) {
    ASSERT_TRUE(reg().SetValue(root, path, v.name, v.type, v.data));
  }
  // Replaces the settings key by one holding these values.
  void Settings(const std::vector<RegValue>& values, std::u16string_view key = kClient2002Build.settingsKey) {
    reg().DeleteKey(HKEY_CURRENT_USER, key);
    ASSERT_TRUE(reg().CreateKey(HKEY_CURRENT_USER, key));
    for (const RegValue& v : values) Set(HKEY_CURRENT_USER, key, v);
  }
  std::optional<RegValue> At(std::size_t i) {
    return reg().GetValue(HKEY_CLASSES_ROOT, kStreamingOpenCommandKeys[i], u"");
  }
  void ExpectAll(std::u16string_view command) {
    for (std::size_t i = 0; i < kStreamingOpenCommandKeys.size(); ++i) {
      EXPECT_EQ(At(i), Command(command)) << "key " << i;
    }
  }

  sim::SimDevice device_;
  CDeviceControl control_{device_.platform(), kClient2002Build};
};

TEST_F(MediaHandlerTest, LastSwitchDecidesEveryCommand) {
  EXPECT_EQ(control_.SetMediaHandler(TRUE), TRUE);
  EXPECT_EQ(control_.SetMediaHandler(FALSE), TRUE);
  ExpectAll(kSaved);
  EXPECT_EQ(control_.SetMediaHandler(TRUE), TRUE);
  ExpectAll(kLauncher);
}

TEST_F(MediaHandlerTest, PlayerCommandFallsBackToTheBuildDefault) {
  const std::u16string longest(129, u'p');
  const struct {
    const DeviceControlBuild* build;
    std::optional<RegValue> wmpPath;  // nullopt: none
    std::u16string_view command;
  } cases[] = {
      {&kClient2002Build, std::nullopt, kPlayer8},
      {&kClient2003Build, std::nullopt, u"wmplayer.exe %1"},
      {&kClient2002Build, RegValue{u"wmp_path", REG_SZ, Utf16(u"", 260)}, kPlayer8},
      {&kClient2002Build, RegValue{u"wmp_path", REG_SZ, Utf16(longest)}, longest},
      {&kClient2002Build, RegValue{u"wmp_path", REG_SZ, Utf16(longest + u"q")}, kPlayer8},
      {&kClient2002Build, RegValue{u"wmp_path", REG_SZ, Utf16(longest + u"q", 260)}, kPlayer8},  // unterminated
      {&kClient2002Build, RegValue{u"wmp_path", REG_DWORD, {1, 0, 0, 0}}, kPlayer8},
  };
  // The settings hold no install path: the player command needs none.
  for (const auto& c : cases) {
    Settings(c.wmpPath ? std::vector<RegValue>{*c.wmpPath} : std::vector<RegValue>{}, c.build->settingsKey);
    EXPECT_EQ(CDeviceControl(device_.platform(), *c.build).SetMediaHandler(FALSE), TRUE);
    ExpectAll(c.command);
  }
}

TEST_F(MediaHandlerTest, MissingKeyStopsTheWalk) {
  ASSERT_TRUE(reg().DeleteKey(HKEY_CLASSES_ROOT, u"MMST"));
  EXPECT_EQ(control_.SetMediaHandler(TRUE), FALSE);
  EXPECT_EQ(At(0), Command(kLauncher));
  EXPECT_FALSE(reg().KeyExists(HKEY_CLASSES_ROOT, kStreamingOpenCommandKeys[1])) << "never created";
  for (std::size_t i = 2; i < kStreamingOpenCommandKeys.size(); ++i) {
    EXPECT_EQ(At(i), (RegValue{u"", REG_SZ, Utf16(u"old")})) << "key " << i;
  }
}

TEST_F(MediaHandlerTest, NoUsableLauncherCommandChangesNothing) {
  const auto install = [](std::u16string_view dir) { return RegValue{u"qx_install_path", REG_SZ, Utf16(dir)}; };
  const std::u16string dir114(114, u'd');  // makes a command of 129 characters, the most that fits
  const struct {
    std::optional<std::vector<RegValue>> settings;  // nullopt: no settings key
    BOOL useLauncher;
  } cases[] = {
      {std::nullopt, TRUE},
      {std::nullopt, FALSE},
      {std::vector<RegValue>{}, TRUE},
      {std::vector<RegValue>{install(u"")}, TRUE},
      {std::vector<RegValue>{install(dir114 + u"d")}, TRUE},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (cases[i].settings) {
      Settings(*cases[i].settings);
    } else {
      reg().DeleteKey(HKEY_CURRENT_USER, kClient2002Build.settingsKey);
    }
    const sim::RegistryImage before = reg().Image();
    EXPECT_EQ(control_.SetMediaHandler(cases[i].useLauncher), FALSE) << "case " << i;
    EXPECT_EQ(reg().Image(), before) << "case " << i;
  }
  Settings({install(dir114)});
  EXPECT_EQ(control_.SetMediaHandler(TRUE), TRUE);
  ExpectAll(u"\"" + dir114 + u"\\stv.exe\" \"%1\"");
  EXPECT_EQ(control_.SetMediaHandler(FALSE), TRUE);
  ExpectAll(kPlayer8);
}

}  // namespace
}  // namespace qx
