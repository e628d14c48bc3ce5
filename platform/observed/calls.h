// The platform's service calls by name: what a scenario counts (`calls`)
// and fails (`fail CALL`) on either world, the simulated device and Win32
// observed under the scenario runner.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace qx::observed {

// One entry per service call of platform/platform.h, in its order. Keep in
// step with kCallNames in calls.cpp.
enum class Call : std::size_t {
  // registry
  RegOpenKeyExW, RegCreateKeyExW, RegQueryValueExW, RegSetValueExW, RegEnumKeyExW, RegDeleteKeyW, RegCloseKey,
  // windows
  FindWindowW, WindowFromPoint, GetParent, GetForegroundWindow, SetForegroundWindow, GetDesktopWindow,
  EnumWindows, EnumThreadWindows, IsWindow, IsWindowVisible, IsWindowEnabled, GetClassNameW, GetWindowTextW, SetWindowTextW,
  GetWindowRect, GetClientRect, ScreenToClient, GetCursorPos, GetWindowStyle, SetWindowStyle, ShowWindow,
  SetWindowPos, MoveWindow, EnableWindow, DestroyWindow, SetFocus, GetFocus, InvalidateRect, CommandBar_Show,
  CreateDialogIndirectW, GetDlgItem, GetDlgCtrlID, GetNextDlgTabItem, SubclassWindow, CallDefaultProc, InSendMessage,
  SendMessageW, PostMessageW, GetMessageW, IsDialogMessageW, DispatchMessageW, PostQuitMessage, SetTimer,
  KillTimer, MessageBoxW, EndDialog, LoadMenuW, GetSubMenu, RemoveMenu, CheckMenuItem, TrackPopupMenu, EndMenu, DestroyMenu,
  GetSysColor, GetStockObject, FillSolidRect, Draw3dRect, LoadIconImage, DestroyIcon, DrawIconEx,
  // processes
  LoadLibraryW, FreeLibrary, CreateToolhelp32Snapshot, Process32FirstW, Process32NextW, CloseToolhelp32Snapshot,
  OpenProcess, TerminateProcess, CloseHandle, ShellExecuteExW, Sleep, GetLastError, GetModuleFileNameW,
  // dial-up
  RasEnumConnectionsW, RasHangUpW,
  // files
  CreateFileW, ReadFile, WriteFile, SetFilePointer, SetEndOfFile, CloseFile,
  // text
  WideCharToMultiByte, MultiByteToWideChar,
  // power
  KernelIoControl,
  kCount
};

inline constexpr std::size_t kCallCount = static_cast<std::size_t>(Call::kCount);

std::string_view CallName(Call call);
std::optional<Call> CallFromName(std::string_view name);

}  // namespace qx::observed
