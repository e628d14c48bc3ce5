#include "platform/sim/ledger.h"

#include <algorithm>
#include <numeric>

namespace qx::sim {

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

std::optional<LONG> CallLedger::Enter(Call call) {
  if (t_callDepth > 1) return std::nullopt;  // the device's own, inside a call
  if (watcher_) {
    const CallVerdict verdict = watcher_(call);
    if (verdict.error) return verdict.error;
    if (verdict.uncounted) return std::nullopt;
  }
  ++counts_[static_cast<std::size_t>(call)];
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->fault.call != call) continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    const LONG error = it->fault.error;
    if (it->remaining != 0 && --it->remaining == 0) faults_.erase(it);
    return error;
  }
  return std::nullopt;
}

void CallLedger::Plan(Fault fault) {
  faults_.push_back({fault, fault.nth > 0 ? fault.nth - 1 : 0, fault.times});
}

std::size_t CallLedger::RegistryCount() const {
  return std::accumulate(counts_.begin(), counts_.begin() + static_cast<std::size_t>(Call::RegCloseKey) + 1,
                         std::size_t{0});
}

std::size_t CallLedger::Total() const { return std::accumulate(counts_.begin(), counts_.end(), std::size_t{0}); }

}  // namespace qx::sim
