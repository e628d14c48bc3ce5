// The shell's open commands for streaming media: pointed at the launcher
// while the tray client runs, and back at the media player when it ends.
#include "devicecontrol/device_control.h"

namespace qx {

std::u16string CDeviceControl::LauncherCommand(std::u16string_view installDir) {
  std::u16string command(u"\"");
  command += installDir;
  command += u"\\stv.exe\" \"%1\"";
  return command;
}

BOOL CDeviceControl::SetMediaHandler(BOOL useLauncher) {
  IRegistry& registry = platform_.registry;

  // The player command the installer saved; a value that is missing, empty
  // or does not fit the 260-byte width falls back to the build's default.
  std::u16string playerCommand;
  {
    RegKey settings(registry);
    if (settings.Open(HKEY_CURRENT_USER, build_.settingsKey) != ERROR_SUCCESS) return FALSE;
    ReadBoundedString(settings, u"wmp_path", kOpenCommandBytes, &playerCommand);
  }
  if (playerCommand.empty()) playerCommand = build_.defaultPlayerCommand;

  std::u16string installDir;
  {
    RegKey settings(registry);
    if (settings.Open(HKEY_CURRENT_USER, build_.settingsKey) != ERROR_SUCCESS) return FALSE;
    ReadBoundedString(settings, u"qx_install_path", kOpenCommandBytes, &installDir);
  }

  std::u16string command;
  if (useLauncher) {
    // Without an install directory there is no launcher to point at, and a
    // launcher command too long for the 260-byte width would be cut into the
    // name of a program that does not exist. Either way the shell keeps the
    // commands it has, which still work, and the caller learns FALSE.
    if (installDir.empty()) return FALSE;
    command = LauncherCommand(installDir);
    if (command.size() > kMaxOpenCommandChars) return FALSE;
  } else {
    // At most kMaxOpenCommandChars by the bounded read (the defaults are
    // shorter still), so the fixed-width write never cuts it.
    command = playerCommand;
  }

  // Only existing keys are rewritten; a missing one stops the walk, leaving
  // the keys before it changed and the ones after it as they were.
  for (std::u16string_view path : kStreamingOpenCommandKeys) {
    RegKey key(registry);
    if (key.Open(HKEY_CLASSES_ROOT, path) != ERROR_SUCCESS) return FALSE;
    key.WriteFixedString(u"", command, kOpenCommandBytes);
  }
  return TRUE;
}

}  // namespace qx
