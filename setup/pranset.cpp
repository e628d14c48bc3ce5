#include "setup/pranset.h"

#include <array>

#include "devicecontrol/device_control.h"

namespace qx {

namespace {

// The message that makes the tray client switch the gateway off and end.
constexpr UINT kClientDisableExit = WM_USER + 100;
// The values this library writes are read back by the others with the same
// width.
constexpr DWORD kValueBytes = 260;
constexpr DWORD kUserAgentBytes = 256;
constexpr std::u16string_view kSettingsKey = kClient2003Build.settingsKey;
constexpr std::u16string_view kInstallPath = u"qx_install_path";
constexpr std::u16string_view kInstalled = u"qx_installed";
constexpr std::u16string_view kPlayerPath = u"wmp_path";
constexpr std::u16string_view kDllInstalled = u"qxdll_installed";
constexpr std::u16string_view kLauncherStem = u"stv";
constexpr std::u16string_view kUaLanguage = u"UA-Language";
constexpr std::u16string_view kPlainUserAgent = u"JavaScript";

// The client's main window is a dialog titled two blanks while hidden and
// "Internet Explorer" while shown.
constexpr std::u16string_view kClientClass = u"Dialog";
constexpr std::u16string_view kHiddenTitle = u"  ";
constexpr std::u16string_view kShownTitle = u"Internet Explorer";
constexpr std::size_t kClassChars = 30;
constexpr std::size_t kTitleChars = 120;

struct WindowSearch {
  IWindows* windows;
  std::u16string_view title;
  HWND found;
};

BOOL MatchClientWindow(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<WindowSearch*>(lParam);
  std::array<char16_t, kClassChars + 1> className{};
  std::array<char16_t, kTitleChars + 1> title{};
  const int classLength = search->windows->GetClassNameW(hwnd, className);
  const int titleLength = search->windows->GetWindowTextW(hwnd, title);
  const std::u16string_view cls(className.data(), static_cast<std::size_t>(std::max(classLength, 0)));
  const std::u16string_view text(title.data(), static_cast<std::size_t>(std::max(titleLength, 0)));
  // The whole list is walked: the last window that matches wins.
  if (cls.find(kClientClass) != std::u16string_view::npos && text.find(search->title) != std::u16string_view::npos) {
    search->found = hwnd;
  }
  return TRUE;
}

}  // namespace

CPranset::CPranset(Platform& platform) : m_platform(platform) {}

// ---- Install ---------------------------------------------------------------------

int CPranset::Install_Init(HWND, BOOL, BOOL, std::u16string_view) {
  TerminateClientProcess();
  SendClientShutdown();
  return codeINSTALL_INIT_CONTINUE;
}

int CPranset::Install_Exit(HWND parent, std::u16string_view installDir, WORD, WORD, WORD, WORD, WORD) {
  RegKey settings(m_platform.registry);
  if (settings.Open(HKEY_CURRENT_USER, kSettingsKey) == ERROR_SUCCESS) {
    // A directory that does not fit the value's width would be recorded cut,
    // naming a folder that does not exist; it is left unrecorded instead, and
    // the client then keeps the player's open commands.
    if (installDir.size() <= FixedStringCapacity(kValueBytes)) {
      settings.WriteFixedString(kInstallPath, installDir, kValueBytes);
    }
    settings.WriteDword(kInstalled, 1);
    settings.Close();

    RegKey command(m_platform.registry);
    if (command.Open(HKEY_CLASSES_ROOT, kStreamingOpenCommandKeys[0]) == ERROR_SUCCESS) {
      std::u16string player;
      if (ReadBoundedString(command, u"", kValueBytes, &player) != ERROR_SUCCESS) player.clear();
      command.Close();
      // When the launcher already is the open command, the player behind it
      // is the system's own.
      if (player.find(kLauncherStem) != std::u16string::npos) player = kFallbackPlayerCommand;
      if (settings.Open(HKEY_CURRENT_USER, kSettingsKey) == ERROR_SUCCESS) {
        settings.WriteFixedString(kPlayerPath, player, kValueBytes);
        settings.Close();
      }
    }
  }
  m_platform.windows.MessageBoxW(parent, kInstalledNotice, kSetupCaption, MB_OK);
  m_platform.power.KernelIoControl(IOCTL_HAL_REBOOT, {}, {}, nullptr);
  return codeINSTALL_EXIT_DONE;
}

// ---- Uninstall ---------------------------------------------------------------------

int CPranset::Uninstall_Init(HWND, std::u16string_view) {
  if (ReadDllInstalledFlag() == 0) RestorePlayerCommands();
  SendClientShutdown();
  TerminateClientProcess();
  ClearInstallRecord();
  // Read again: when the record was deleted above the flag reads 0 now.
  if (ReadDllInstalledFlag() == 0) ResetUserAgent();
  return codeUNINSTALL_INIT_CONTINUE;
}

int CPranset::Uninstall_Exit(HWND) { return codeUNINSTALL_EXIT_DONE; }

// ---- Shared operations ---------------------------------------------------------------

void CPranset::TerminateClientProcess() {
  IProcesses& processes = m_platform.processes;
  const HMODULE toolhelp = processes.LoadLibraryW(u"toolhelp.dll");
  if (toolhelp == nullptr) {
    m_platform.windows.MessageBoxW(nullptr, u"Toolhelp.dll not found", u"TrayTaskList", MB_OK);
    return;
  }
  // Only the first client in the process list is stopped; every handle
  // taken on the way is given back.
  TerminateProcessesByImage(processes, kClientImage, true);
  processes.FreeLibrary(toolhelp);
}

BOOL CPranset::SendClientShutdown() {
  WindowSearch search{&m_platform.windows, kHiddenTitle, nullptr};
  m_platform.windows.EnumWindows(MatchClientWindow, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) {
    search.title = kShownTitle;
    m_platform.windows.EnumWindows(MatchClientWindow, reinterpret_cast<LPARAM>(&search));
  }
  if (search.found == nullptr) return FALSE;
  m_platform.windows.SendMessageW(search.found, kClientDisableExit, 0, 0);
  return TRUE;
}

DWORD CPranset::ReadDllInstalledFlag() {
  RegKey settings(m_platform.registry);
  if (settings.Open(HKEY_CURRENT_USER, kSettingsKey) != ERROR_SUCCESS) return 0;
  DWORD flag = 0;
  if (settings.ReadDword(kDllInstalled, &flag) != ERROR_SUCCESS) flag = 0;
  return flag;
}

BOOL CPranset::RestorePlayerCommands() {
  RegKey settings(m_platform.registry);
  if (settings.Open(HKEY_CURRENT_USER, kSettingsKey) != ERROR_SUCCESS) return FALSE;
  std::u16string player;
  if (ReadBoundedString(settings, kPlayerPath, kValueBytes, &player) != ERROR_SUCCESS) player.clear();
  settings.Close();
  if (player.empty()) player = kFallbackPlayerCommand;
  for (std::u16string_view path : kStreamingOpenCommandKeys) {
    RegKey command(m_platform.registry);
    if (command.Open(HKEY_CLASSES_ROOT, path) != ERROR_SUCCESS) return FALSE;
    command.WriteFixedString(u"", player, kValueBytes);
  }
  return TRUE;
}

void CPranset::ClearInstallRecord() {
  if (ReadDllInstalledFlag() == 0) {
    m_platform.registry.RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
    return;
  }
  RegKey settings(m_platform.registry);
  if (settings.Open(HKEY_CURRENT_USER, kSettingsKey) != ERROR_SUCCESS) return;
  settings.WriteFixedString(kInstallPath, u"", kValueBytes);
  settings.WriteDword(kInstalled, 0);
}

BOOL CPranset::ResetUserAgent() {
  RegKey userAgent(m_platform.registry);
  if (userAgent.Open(HKEY_LOCAL_MACHINE, kMobile2003UserAgentKey) != ERROR_SUCCESS) return FALSE;
  userAgent.WriteFixedString(kUaLanguage, kPlainUserAgent, kUserAgentBytes);
  return TRUE;
}

}  // namespace qx
