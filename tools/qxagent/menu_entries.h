// How a popup menu's entries travel from the program that shows the menu
// to the agent. Under Wine a menu handle means nothing outside its own
// process (GetMenuItemInfo fails there), so the agent hooks the menu's
// thread with qxmenuhook.dll: the hook reads the entries inside that
// process and writes them to memory shared under a name the agent chose.
#pragma once

#include <windows.h>

namespace qx::agent::menu {

// The message the agent sends to the menu window: WPARAM the agent's
// process id (naming the shared memory), LPARAM the menu (MN_GETHMENU).
constexpr wchar_t kAskMessage[] = L"qxagent: popup menu entries";
constexpr char kHookProcName[] = "QxMenuHook";
constexpr wchar_t kHookLibrary[] = L"qxmenuhook.dll";

// "Local\qxagent-menu-PID"
inline void SharedName(DWORD agentPid, wchar_t (&name)[64]) {
  wsprintfW(name, L"Local\\qxagent-menu-%lu", agentPid);
}

constexpr DWORD kSharedBytes = 1 << 18;
constexpr DWORD kMostEntries = 256;
constexpr DWORD kLongestText = 255;

struct Entry {
  UINT id;
  UINT state;  // MFS_*
  UINT type;   // MFT_*
  UINT length; // characters in text
  wchar_t text[kLongestText + 1];
};

struct Entries {
  LONG written;  // 1 once the hook has filled the rest
  LONG count;    // -1: the hook could not read the menu
  Entry entries[kMostEntries];
};
static_assert(sizeof(Entries) <= kSharedBytes);

}  // namespace qx::agent::menu
