// qxmenuhook.dll: loaded by the system into the program whose popup menu
// the agent reads (see tools/qxagent/menu_entries.h); it reads the menu in
// that program and writes its entries where the agent looks.
#include "tools/qxagent/menu_entries.h"

using namespace qx::agent::menu;

namespace {

void Describe(DWORD agentPid, HMENU menu) {
  wchar_t name[64];
  SharedName(agentPid, name);
  const HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
  if (mapping == nullptr) return;
  auto* shared = static_cast<Entries*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(Entries)));
  if (shared != nullptr) {
    const int count = GetMenuItemCount(menu);
    shared->count = count < 0 ? -1 : (count > static_cast<int>(kMostEntries) ? kMostEntries : count);
    for (LONG i = 0; i < shared->count; ++i) {
      Entry& entry = shared->entries[i];
      MENUITEMINFOW item{};
      item.cbSize = sizeof item;
      item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
      item.dwTypeData = entry.text;
      item.cch = kLongestText + 1;
      if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item)) {
        shared->count = -1;
        break;
      }
      entry.id = item.wID;
      entry.state = item.fState;
      entry.type = item.fType;
      entry.length = item.cch > kLongestText ? kLongestText : item.cch;
      entry.text[entry.length] = L'\0';
    }
    InterlockedExchange(&shared->written, 1);
    UnmapViewOfFile(shared);
  }
  CloseHandle(mapping);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK QxMenuHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent->message == RegisterWindowMessageW(kAskMessage)) {
      Describe(static_cast<DWORD>(sent->wParam), reinterpret_cast<HMENU>(sent->lParam));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
