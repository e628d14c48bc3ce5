#include "platform/observed/calls.h"

#include <algorithm>
#include <array>

namespace qx::observed {

namespace {
constexpr std::array<std::string_view, kCallCount> kCallNames = {
    "RegOpenKeyExW", "RegCreateKeyExW", "RegQueryValueExW", "RegSetValueExW", "RegEnumKeyExW", "RegDeleteKeyW",
    "RegCloseKey",
    "FindWindowW", "WindowFromPoint", "GetParent", "GetForegroundWindow", "SetForegroundWindow",
    "GetDesktopWindow", "EnumWindows", "EnumThreadWindows", "IsWindow", "IsWindowVisible", "IsWindowEnabled", "GetClassNameW",
    "GetWindowTextW", "SetWindowTextW", "GetWindowRect", "GetClientRect", "ScreenToClient", "GetCursorPos",
    "GetWindowStyle", "SetWindowStyle", "ShowWindow", "SetWindowPos", "MoveWindow", "EnableWindow",
    "DestroyWindow", "SetFocus", "GetFocus", "InvalidateRect", "CommandBar_Show", "CreateDialogIndirectW",
    "GetDlgItem", "GetDlgCtrlID", "GetNextDlgTabItem", "SubclassWindow", "CallDefaultProc", "InSendMessage", "SendMessageW",
    "PostMessageW", "GetMessageW", "IsDialogMessageW", "DispatchMessageW", "PostQuitMessage", "SetTimer",
    "KillTimer", "MessageBoxW", "EndDialog", "LoadMenuW", "GetSubMenu", "RemoveMenu", "CheckMenuItem", "TrackPopupMenu",
    "EndMenu", "DestroyMenu", "GetSysColor", "GetStockObject", "FillSolidRect", "Draw3dRect", "LoadIconImage",
    "DestroyIcon", "DrawIconEx",
    "LoadLibraryW", "FreeLibrary", "CreateToolhelp32Snapshot", "Process32FirstW", "Process32NextW",
    "CloseToolhelp32Snapshot", "OpenProcess", "TerminateProcess", "CloseHandle", "ShellExecuteExW", "Sleep",
    "GetLastError", "GetModuleFileNameW",
    "RasEnumConnectionsW", "RasHangUpW",
    "CreateFileW", "ReadFile", "WriteFile", "SetFilePointer", "SetEndOfFile", "CloseFile",
    "WideCharToMultiByte", "MultiByteToWideChar",
    "KernelIoControl",
};
}  // namespace

std::string_view CallName(Call call) { return kCallNames[static_cast<std::size_t>(call)]; }

std::optional<Call> CallFromName(std::string_view name) {
  const auto it = std::find(kCallNames.begin(), kCallNames.end(), name);
  if (it == kCallNames.end()) return std::nullopt;
  return static_cast<Call>(it - kCallNames.begin());
}

}  // namespace qx::observed
