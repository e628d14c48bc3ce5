// The setup extension of the Windows Mobile 2003 package: the installer's
// four hooks. Installing stops a running client, records where the package
// went and the player's open command, and soft-resets the device; removing
// it gives the open commands back to the player, stops the client, clears
// the install record and the browser's User-Agent extension.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace qx {

// The installer's return codes.
inline constexpr int codeINSTALL_INIT_CONTINUE = 0;
inline constexpr int codeINSTALL_INIT_CANCEL = 1;
inline constexpr int codeINSTALL_EXIT_DONE = 0;
inline constexpr int codeINSTALL_EXIT_UNINSTALL = 1;
inline constexpr int codeUNINSTALL_INIT_CONTINUE = 0;
inline constexpr int codeUNINSTALL_INIT_CANCEL = 1;
inline constexpr int codeUNINSTALL_EXIT_DONE = 0;

// The 2003 client, as the hooks find it.
inline constexpr std::u16string_view kClientImage = u"Quorvix2003.exe";
inline constexpr std::u16string_view kSetupCaption = u"Quorvix Client Setup";
inline constexpr std::u16string_view kInstalledNotice =
    u"프로그램 설치가 완료되었습니다.\r\n"
    u"프로그램 설정을 완료하기 위해 소프트리셋합니다.\r\n"
    u"리셋 후 Pocket IE를 실행하여 Quorvix 설정 값을 변경하십시오.";
// What the open commands get when no player command was saved.
inline constexpr std::u16string_view kFallbackPlayerCommand = u"wmplayer.exe %1";

class CPranset {
 public:
  explicit CPranset(Platform& platform);

  // The hooks, with the installer's arguments and return codes. None of
  // them ever cancels.
  int Install_Init(HWND parent, BOOL firstCall, BOOL previouslyInstalled, std::u16string_view installDir);
  int Install_Exit(HWND parent, std::u16string_view installDir, WORD failedDirs, WORD failedFiles,
                   WORD failedRegKeys, WORD failedRegVals, WORD failedShortcuts);
  int Uninstall_Init(HWND parent, std::u16string_view installDir);
  int Uninstall_Exit(HWND parent);

  // Stops the first running "Quorvix2003.exe".
  void TerminateClientProcess();
  // Sends the client's main window the message that switches the gateway
  // off and ends it; TRUE when a window was found.
  BOOL SendClientShutdown();
  DWORD ReadDllInstalledFlag();
  BOOL RestorePlayerCommands();
  void ClearInstallRecord();
  BOOL ResetUserAgent();

 private:
  Platform& m_platform;
};

}  // namespace qx
