// The handle audit: what a program that ends by itself leaves open is named,
// one line per handle; a handle whose close the device refused is named as
// such; what a terminated program held is taken back without a word.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace qx::sim {
namespace {

// Starts a program and keeps its process handle, as a caller that waits for it would.
HANDLE StartKeepingHandle(Platform& p) {
  SHELLEXECUTEINFOW info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = u"open";
  info.lpFile = u"connmgr.exe";
  p.processes.ShellExecuteExW(&info);
  return info.hProcess;
}

constexpr DialogTemplate kWindow{903, u"Held", WS_POPUP | WS_VISIBLE, 0, 0, 0, 40, 20, u"System", 8, {}};
constexpr MenuItemTemplate kItems[] = {{7, u"Seven", {}}};
constexpr MenuItemTemplate kBar[] = {{0, u"Popup", kItems}};
constexpr MenuTemplate kMenu{129, kBar};
constexpr std::u16string_view kProgram = u"\\holder.exe";
constexpr int kIcon = 133;

struct NoHandler : IWindowHandler {
  bool HandleMessage(HWND, UINT, WPARAM, LPARAM, LRESULT*) override { return false; }
};

class Handles : public ::testing::Test {
 protected:
  Handles() { device.kernel().PutFile(u"\\My Documents\\clip.asx", {'h', 't', 't', 'p'}); }

  // Runs `body` as a program with one icon resource and returns the lines
  // its end left in the effects.
  std::vector<std::string> Run(const std::function<void(Platform&)>& body) {
    device.kernel().InstallProgram(kProgram, {[&body](Platform& platform, std::u16string_view) {
                                                body(platform);
                                                return 0;
                                              },
                                              {kIcon}});
    device.kernel().StartProgram(kProgram, u"");
    std::vector<std::string> lines;
    for (const Effect& effect : device.kernel().TakeEffects()) {
      if (effect.kind == Effect::Kind::HandleLeft) lines.push_back(effect.text);
    }
    return lines;
  }

  SimDevice device;
  NoHandler handler;
};

TEST_F(Handles, AProgramThatEndsByItselfHasWhatItLeftOpenNamed) {
  const std::string who = "\"\\holder.exe\" left open: ";
  struct Case {
    const char* name;
    std::function<void(Platform&)> open;   // leaves one handle open
    std::function<void(Platform&)> close;  // the same, closed again
    std::string line;
  };
  const Case cases[] = {
      {"registry key",
       [](Platform& p) {
         HKEY key = nullptr;
         (void)p.registry.RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Held", KEY_ALL_ACCESS, &key, nullptr);
       },
       [](Platform& p) {
         HKEY key = nullptr;
         (void)p.registry.RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Held", KEY_ALL_ACCESS, &key, nullptr);
         p.registry.RegCloseKey(key);
       },
       "registry key HKEY_CURRENT_USER\\Software\\Held"},
      {"file", [](Platform& p) { p.files.CreateFileW(u"\\My Documents\\clip.asx", GENERIC_READ, 0, OPEN_EXISTING); },
       [](Platform& p) {
         p.files.CloseHandle(p.files.CreateFileW(u"\\My Documents\\clip.asx", GENERIC_READ, 0, OPEN_EXISTING));
       },
       "file \"\\My Documents\\clip.asx\""},
      {"snapshot", [](Platform& p) { p.processes.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0); },
       [](Platform& p) {
         p.processes.CloseToolhelp32Snapshot(p.processes.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
       },
       "snapshot"},
      {"process", [](Platform& p) { StartKeepingHandle(p); },
       [](Platform& p) { p.processes.CloseHandle(StartKeepingHandle(p)); },
       "process \"connmgr.exe\""},
      {"library", [](Platform& p) { p.processes.LoadLibraryW(u"toolhelp.dll"); },
       [](Platform& p) {
         // Two loads need two frees.
         const HMODULE module = p.processes.LoadLibraryW(u"toolhelp.dll");
         p.processes.LoadLibraryW(u"toolhelp.dll");
         p.processes.FreeLibrary(module);
         p.processes.FreeLibrary(module);
       },
       "library \"toolhelp.dll\""},
      {"menu", [](Platform& p) { p.windows.GetSubMenu(p.windows.LoadMenuW(kMenu), 0); },
       [](Platform& p) { p.windows.DestroyMenu(p.windows.LoadMenuW(kMenu)); }, "menu 129"},
      {"icon", [](Platform& p) { p.windows.LoadIconImage(kIcon, 16, 16); },
       [](Platform& p) { p.windows.DestroyIcon(p.windows.LoadIconImage(kIcon, 16, 16)); }, "icon 133"},
      {"window", [this](Platform& p) { p.windows.CreateDialogIndirectW(kWindow, nullptr, &handler); },
       [this](Platform& p) { p.windows.DestroyWindow(p.windows.CreateDialogIndirectW(kWindow, nullptr, &handler)); },
       "window \"Held\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run(c.open), std::vector<std::string>{who + c.line});
    EXPECT_EQ(Run(c.close), std::vector<std::string>{});
  }
  EXPECT_EQ(device.kernel().LeftOpen().size(), std::size(cases));
  // Nothing stays on the books once the programs are gone.
  EXPECT_EQ(device.ledger().handles().Count(), 0u);
}

TEST_F(Handles, ATimerGoesWithItsWindowButNotWithoutIt) {
  const std::vector<std::string> left = Run([this](Platform& p) {
    const HWND kept = p.windows.CreateDialogIndirectW(kWindow, nullptr, &handler);
    const HWND gone = p.windows.CreateDialogIndirectW(kWindow, nullptr, &handler);
    p.windows.SetTimer(kept, 5, 200, nullptr);
    p.windows.SetTimer(gone, 6, 200, nullptr);
    p.windows.DestroyWindow(gone);
  });
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0], "\"\\holder.exe\" left open: window \"Held\"");
  EXPECT_NE(left[1].find("left open: timer 5 of"), std::string::npos) << left[1];
}

TEST_F(Handles, ARefusedCloseIsNamedAsSuchAndATerminatedProgramLeavesNoReport) {
  device.ledger().Plan({Call::RegCloseKey, 1, 1});
  const std::vector<std::string> refused = Run([](Platform& p) {
    RegKey key(p.registry);
    (void)key.Create(HKEY_CURRENT_USER, u"Software\\Refused");
  });
  EXPECT_EQ(refused, std::vector<std::string>{"\"\\holder.exe\" left open: registry key "
                                              "HKEY_CURRENT_USER\\Software\\Refused (its close was refused)"});
  const std::vector<std::string> killed = Run([](Platform& p) {
    p.processes.LoadLibraryW(u"toolhelp.dll");
    p.processes.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    p.power.KernelIoControl(IOCTL_HAL_REBOOT, {}, {}, nullptr);
  });
  EXPECT_EQ(killed, std::vector<std::string>{});
  EXPECT_EQ(device.ledger().handles().Count(), 0u);
}

}  // namespace
}  // namespace qx::sim
