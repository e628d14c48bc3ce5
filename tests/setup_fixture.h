// The setup extension on a simulated Windows Mobile 2003 handheld: one
// Connection Manager proxy entry, the browser's User Agent key, the media
// player owning the seven streaming open commands, the 2003 tray client
// installed, and a probe program whose dialog windows record the messages
// they get. Hooks that may meet a running client run inside an installer
// program, so that a message they send waits for its receiver.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/quorvix.h"
#include "client/resources.h"
#include "platform/sim/sim.h"
#include "setup/pranset.h"
#include "tests/test_bytes.h"

namespace qx::setup {

using namespace qx::testing_bytes;

inline constexpr std::u16string_view kClientPath = u"\\Program Files\\Quorvix\\Quorvix2003.exe";
inline constexpr std::u16string_view kInstallerPath = u"\\Windows\\installer.exe";
inline constexpr std::u16string_view kProbePath = u"\\Windows\\probe.exe";
inline constexpr std::u16string_view kInstallDir = u"\\Program Files\\Quorvix";
inline constexpr std::u16string_view kSettingsKey = u"Software\\Brennic Inc\\Quorvix2003";
inline constexpr std::u16string_view kProfileKey = u"Software\\Brennic Inc\\Quorvix2003\\Quorvix";
inline constexpr std::u16string_view kUserAgentKey =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\5.0\\User Agent";
inline constexpr std::u16string_view kDevicePlayer = u"\\Windows\\wmplayer.exe %1";
inline constexpr std::u16string_view kLauncherCommand = u"\"\\Program Files\\Quorvix\\stv.exe\" \"%1\"";
inline const std::u16string kHttpEntry = std::u16string(kProviderKey) + u"\\HTTP-x";
inline const std::u16string kSocksEntry = std::u16string(kProviderKey) + u"\\SOCKS-x";
inline constexpr UINT kDisableExit = WM_USER + 100;

// A value as type and bytes, nullopt when missing.
using Data = std::optional<std::pair<DWORD, std::vector<BYTE>>>;
inline Data Str(std::u16string_view text, std::size_t bytes = 0) { return {{REG_SZ, Sz(text, bytes)}}; }
inline Data Num(DWORD value) { return {{REG_DWORD, Dword(value)}}; }

class SetupHooks : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }

  // A new device, as the table-driven tests need one per row.
  void Fresh() {
    device_.reset();
    device_ = std::make_unique<sim::SimDevice>();
    log_.clear();
    codes.clear();
    received.clear();
    kernel().InstallProgram(kClientPath, {[](Platform& platform, std::u16string_view) {
                                            return RunQuorvix(platform, kClient2003Build);
                                          },
                                          {IDI_APP, IDI_BUTTON_NORMAL, IDI_BUTTON_HOT}});
    kernel().InstallProgram(kProbePath, {[this](Platform& platform, std::u16string_view) { return Probe(platform); },
                                         {}});
    auto& reg = registry();
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Type", REG_DWORD, Dword(1));
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Enable", REG_DWORD, Dword(1));
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Proxy", REG_SZ, Sz(u"wap.mobilenet.co.kr:1159"));
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"DestId", REG_SZ, Sz(u"{dest}"));
    reg.SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"SrcId", REG_SZ, Sz(u"{src}"));
    reg.SetValue(HKEY_LOCAL_MACHINE, kUserAgentKey, u"UA-Language", REG_SZ, Sz(u"JavaScript"));
    for (std::u16string_view key : kStreamingOpenCommandKeys) {
      reg.SetValue(HKEY_CLASSES_ROOT, key, u"", REG_SZ, Sz(kDevicePlayer));
    }
  }

  sim::SimDevice& device() { return *device_; }
  sim::Kernel& kernel() { return device_->kernel(); }
  sim::SimRegistry& registry() { return device_->registry(); }

  // Runs the hooks as the device's installer does, from a process of its own.
  void Installer(std::function<void(CPranset&)> hooks) {
    kernel().InstallProgram(kInstallerPath, {[hooks](Platform& platform, std::u16string_view) {
                                               CPranset pranset(platform);
                                               hooks(pranset);
                                               return 0;
                                             },
                                             {}});
    kernel().StartProgram(kInstallerPath, u"");
  }

  // A program with one dialog window of this title (in front of the others)
  // that records the shutdown messages it gets.
  void OpenProbe(std::u16string_view title) {
    probeTitle_ = title;
    kernel().StartProgram(kProbePath, u"");
  }

  void OpenBrowser() {
    SHELLEXECUTEINFOW info;
    info.lpVerb = u"open";
    info.lpFile = u"iexplore.exe";
    kernel().ShellExecuteExW(&info);
    kernel().RunUntilQuiet();
  }

  bool Running(DWORD processId) {
    const auto all = kernel().Processes();
    return std::any_of(all.begin(), all.end(), [&](const sim::ProcessInfo& p) { return p.id == processId; });
  }

  Data Got(HKEY root, std::u16string_view path, std::u16string_view name) {
    const auto value = registry().GetValue(root, path, name);
    if (!value) return std::nullopt;
    return {{value->type, value->data}};
  }
  // The effects since the device started (or since Forget), of one kind or all, as text.
  std::vector<std::string> Effects(std::optional<sim::Effect::Kind> kind = std::nullopt) {
    for (auto& effect : kernel().TakeEffects()) log_.push_back(std::move(effect));
    std::vector<std::string> texts;
    for (const auto& effect : log_) {
      if (!kind || effect.kind == *kind) texts.push_back(effect.text);
    }
    return texts;
  }
  void Forget() {
    Effects();
    log_.clear();
  }
  // Where the first effect containing part is; past the end when none does.
  static std::size_t At(const std::vector<std::string>& effects, std::string_view part) {
    for (std::size_t i = 0; i < effects.size(); ++i) {
      if (effects[i].find(part) != std::string::npos) return i;
    }
    ADD_FAILURE() << "no effect \"" << part << "\"";
    return effects.size();
  }

  std::vector<int> codes;                 // what the hooks returned, in order
  std::vector<std::u16string> received;   // titles of the probe windows the shutdown message reached

 private:
  struct ProbeWindow : IWindowHandler {
    ProbeWindow(SetupHooks& test, std::u16string title) : test(test), title(std::move(title)) {}
    bool HandleMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT* result) override {
      if (message != kDisableExit) return false;
      test.received.push_back(title);
      *result = 0;
      return true;
    }
    SetupHooks& test;
    std::u16string title;
  };

  int Probe(Platform& platform) {
    ProbeWindow window(*this, probeTitle_);
    DialogTemplate dialog;
    dialog.caption = window.title;
    platform.windows.CreateDialogIndirectW(dialog, nullptr, &window);
    MSG msg;
    while (platform.windows.GetMessageW(&msg)) platform.windows.DispatchMessageW(&msg);
    return 0;
  }

  std::unique_ptr<sim::SimDevice> device_;
  std::vector<sim::Effect> log_;
  std::u16string probeTitle_;
};

}  // namespace qx::setup
