// The tray client on a fresh simulated handheld: the 2002 edition installed,
// one Connection Manager proxy entry, the install record and the shell's
// streaming open commands as the package leaves them. Helpers act as the
// user and read back the tray window, the proxy entries and what the device
// did.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/quorvix.h"
#include "client/quorvix_dlg.h"
#include "client/resources.h"
#include "platform/sim/sim.h"
#include "tests/test_bytes.h"

namespace qx::tray {

using namespace qx::testing_bytes;

inline constexpr std::u16string_view kClientPath = u"\\Program Files\\Quorvix\\Quorvix.exe";
inline constexpr std::u16string_view kProfileKey = u"Software\\Brennic Inc\\Quorvix\\Quorvix";
inline constexpr std::u16string_view kInstallKey = u"Software\\Brennic Inc\\Quorvix2002";
inline constexpr std::u16string_view kPlayerCommand =
    u"\"\\Program Files\\Windows Media Player 8\\player.exe\" \"%1\"";
inline constexpr std::u16string_view kLauncherCommand = u"\"\\Program Files\\Quorvix\\stv.exe\" \"%1\"";
inline constexpr std::u16string_view kOpenCommandKey = u"MMS\\Shell\\Open\\Command";
inline const std::u16string kHttpEntry = std::u16string(kProviderKey) + u"\\HTTP-x";
inline const std::u16string kSocksEntry = std::u16string(kProviderKey) + u"\\SOCKS-x";
// Where the button window sits while shown: over the browser's menu bar.
inline constexpr RECT kShownRect{184, 299, 200, 315};
inline constexpr RECT kFullWorkArea{0, 26, 240, 294};
inline constexpr DWORD kTickMs = 200;

// The text of a string value up to its first terminator.
inline std::u16string Text(const sim::RegValue& value) { return sim::StringText(value.data); }

struct TrayFixture : ::testing::Test {
  void SetUp() override {
    kernel().InstallProgram(kClientPath, {[](Platform& platform, std::u16string_view) {
                                            return RunQuorvix(platform, kClient2002Build);
                                          },
                                          {IDI_APP, IDI_BUTTON_NORMAL, IDI_BUTTON_HOT}});
    auto& reg = device.registry();
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Type", REG_DWORD, Dword(1));
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Enable", REG_DWORD, Dword(1));
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Proxy", REG_SZ, Sz(u"wap.mobilenet.co.kr:1850"));
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"DestId", REG_SZ, Sz(u"{dest}"));
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"SrcId", REG_SZ, Sz(u"{src}"));
    reg.SetValue(HKEY_CURRENT_USER, kInstallKey, u"wmp_path", REG_SZ, Sz(kPlayerCommand));
    reg.SetValue(HKEY_CURRENT_USER, kInstallKey, u"qx_install_path", REG_SZ, Sz(u"\\Program Files\\Quorvix"));
    for (std::u16string_view key : kStreamingOpenCommandKeys) {
      reg.SetValue(HKEY_CLASSES_ROOT, key, u"", REG_SZ, Sz(kPlayerCommand));
    }
  }

  sim::Kernel& kernel() { return device.kernel(); }
  sim::CallLedger& ledger() { return device.ledger(); }

  // ---- The profile

  void Store(std::u16string_view name, std::optional<DWORD> value) {
    if (value) {
      device.registry().SetValue(HKEY_CURRENT_USER, kProfileKey, name, REG_DWORD, Dword(*value));
    } else {
      device.registry().DeleteValue(HKEY_CURRENT_USER, kProfileKey, name);
    }
  }
  void StoreId(std::optional<std::u16string_view> id) {
    if (id) {
      device.registry().SetValue(HKEY_CURRENT_USER, kProfileKey, u"ID", REG_SZ, Sz(*id));
    } else {
      device.registry().DeleteValue(HKEY_CURRENT_USER, kProfileKey, u"ID");
    }
  }
  std::optional<std::vector<BYTE>> Stored() {
    const auto value = device.registry().GetValue(HKEY_CURRENT_USER, kProfileKey, u"USEQUORVIX");
    if (!value) return std::nullopt;
    return value->data;
  }

  // ---- The proxy entries: "on" (gateway, with the SOCKS twin), "off"
  // (default proxy, no twin) or "mixed".
  std::string Entries() {
    auto& reg = device.registry();
    const auto type = reg.GetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Type");
    const auto proxy = reg.GetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Proxy");
    const bool twin = reg.KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry);
    if (!type || !proxy) return "mixed";
    if (type->data == Dword(1) && Text(*proxy) == u"gw.quorvix.net:8000" && twin) return "on";
    if (type->data == Dword(0) && Text(*proxy) == u"wap.mobilenet.co.kr:1850" && !twin) return "off";
    return "mixed";
  }
  std::u16string OpenCommand() {
    const auto value = device.registry().GetValue(HKEY_CLASSES_ROOT, kOpenCommandKey, u"");
    return value ? Text(*value) : u"";
  }

  // ---- Windows and processes, read without going through the ledger

  DWORD StartClient() { return kernel().StartProgram(kClientPath, u""); }

  // The Nth tray window, front first.
  HWND Client(std::size_t index = 0) {
    for (const auto& window : kernel().TopLevelWindows()) {
      if (window.className == kDialogClass && kernel().ProcessImage(window.processId) == kClientPath &&
          (window.title == u"  " || window.title == u"Internet Explorer") && index-- == 0) {
        return window.hwnd;
      }
    }
    return nullptr;
  }
  HWND Button(std::size_t index = 0) {
    for (const auto& child : kernel().Children(Client(index))) {
      if (child.id == IDC_MENU_BUTTON) return child.hwnd;
    }
    return nullptr;
  }
  HWND Window(std::u16string_view className, std::u16string_view title = {}) {
    for (const auto& window : kernel().TopLevelWindows()) {
      if (window.className == className && (title.empty() || window.title == title)) return window.hwnd;
    }
    return nullptr;
  }
  HWND Browser() { return Window(u"IExplore", u"Internet Explorer"); }
  HWND Control(HWND dialog, int id) {
    for (const auto& child : kernel().Children(dialog)) {
      if (child.id == id) return child.hwnd;
    }
    return nullptr;
  }
  std::vector<DWORD> ProcessIds(std::u16string_view image) {
    std::vector<DWORD> ids;
    for (const auto& process : kernel().Processes()) {
      if (process.image == image) ids.push_back(process.id);
    }
    return ids;
  }

  // Shown: titled for other programs to find, topmost over the menu bar.
  // The button fills the window; the dialog's command bar stays hidden.
  bool Shown(std::size_t index = 0) {
    const auto info = kernel().Describe(Client(index));
    const auto button = kernel().Describe(Button(index));
    return info && button && info->visible && info->title == u"Internet Explorer" && info->topmost &&
           info->rect == kShownRect && !info->commandBarShown && button->visible && button->rect == kShownRect;
  }
  // Hidden: blank title, at the bottom, size 0 before the button is set up
  // and 16 after.
  bool Hidden(LONG size, std::size_t index = 0) {
    const auto info = kernel().Describe(Client(index));
    return info && !info->visible && info->title == u"  " && !info->topmost && !info->commandBarShown &&
           info->rect == RECT{184, 299, 184 + size, 299 + size};
  }

  // ---- The user and the world

  void Tick(int ticks = 1) { kernel().AdvanceTime(kTickMs * static_cast<DWORD>(ticks)); }
  void OpenBrowser() {
    SHELLEXECUTEINFOW info;
    info.lpVerb = u"open";
    info.lpFile = u"iexplore.exe";
    kernel().ShellExecuteExW(&info);
    kernel().RunUntilQuiet();
  }
  // Another program's window over the whole work area, probe point included.
  HWND Cover() { return kernel().OpenWorldWindow(u"pword.exe", u"Notes", u"Notes", kFullWorkArea); }
  // The Tasks list, clear of the probe point.
  HWND OpenTasks() { return kernel().OpenWorldWindow(u"shell32.exe", u"WisMenuDlg", u"Tasks", {0, 26, 120, 126}); }

  // Started, past the first tick, with the browser in front and the button
  // shown over it.
  void StartWithButton() {
    ASSERT_NE(StartClient(), 0u);
    Tick();
    OpenBrowser();
    Tick();
    ASSERT_TRUE(Shown());
  }

  void TapButton() {
    const auto info = kernel().Describe(Button());
    ASSERT_TRUE(info && info->visible);
    kernel().StylusDown({(info->rect.left + info->rect.right) / 2, (info->rect.top + info->rect.bottom) / 2});
    kernel().StylusUp();
  }
  void Choose(std::u16string_view entry) {
    std::string why;
    ASSERT_TRUE(kernel().ChooseMenuItem(entry, &why)) << why;
  }
  void Press(HWND dialog, int id) {
    std::string why;
    ASSERT_TRUE(kernel().Click(Control(dialog, id), &why)) << why;
  }

  // Whether the poll runs: a tick's worth of time passes and the tray looks
  // for the browser.
  bool Polls() {
    const std::size_t before = ledger().Count(sim::Call::FindWindowW);
    Tick();
    return ledger().Count(sim::Call::FindWindowW) > before;
  }

  std::vector<std::string> Effects() {
    std::vector<std::string> texts;
    for (const auto& effect : kernel().TakeEffects()) texts.push_back(effect.text);
    return texts;
  }
  static bool Has(const std::vector<std::string>& effects, std::string_view part) {
    return std::any_of(effects.begin(), effects.end(),
                       [part](const std::string& text) { return text.find(part) != std::string::npos; });
  }

  sim::SimDevice device;
};

}  // namespace qx::tray
