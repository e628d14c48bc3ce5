// How a program's own message box ends when the program ends it (message
// 1124 cancelling what the user has open): every kind of box, owned or not,
// ended from a timer on the program's thread by EndDialog, by a cancel
// command, by WM_CLOSE and by destroying it. Written once over the platform, so the same
// story runs on the simulated device (a unit test) and on real Win32 under
// Wine (the backend check), and both compare with what Wine 8.0 does.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace qx::boxes {

struct Ending {
  std::string how;
  UINT type = MB_OK;
  bool owned = false;
  int result = 0;  // what MessageBoxW returned
};

// Each way, and what MessageBoxW returns then under Wine 8.0 for every kind
// of box: IDCANCEL, also from a box that shows no Cancel button; 0 (the
// call's failure) when the box is destroyed.
struct How {
  const char* name;
  int result;
};
inline constexpr How kHows[] = {
    {"EndDialog IDCANCEL", IDCANCEL}, {"WM_COMMAND IDCANCEL", IDCANCEL}, {"WM_CLOSE", IDCANCEL}, {"DestroyWindow", 0}};

struct Run {
  IWindows* windows = nullptr;
  HWND owner = nullptr;
  int how = 0;
  int ticks = 0;  // since the box was ended
};
inline Run g_run;

inline BOOL FindBox(HWND hwnd, LPARAM found) {
  if (hwnd == g_run.owner || !g_run.windows->IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

inline void EndTheBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = nullptr;
  g_run.windows->EnumThreadWindows(&FindBox, reinterpret_cast<LPARAM>(&box));
  if (box == nullptr) return;
  // A box still open a second after it was ended did not end: it goes, so
  // the check fails instead of waiting for ever.
  if (g_run.ticks++ > 0) {
    if (g_run.ticks > 20) g_run.windows->DestroyWindow(box);
    return;
  }
  switch (g_run.how) {
    case 0: g_run.windows->EndDialog(box, IDCANCEL); break;
    case 1: g_run.windows->SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); break;
    case 2: g_run.windows->SendMessageW(box, WM_CLOSE, 0, 0); break;
    default: g_run.windows->DestroyWindow(box); break;
  }
}

// Opens each box in turn (owned by owner, a shown window of the program's,
// or by none) and ends it from a 50 ms timer of that window; the caller
// lets time pass.
inline std::vector<Ending> EndEveryKind(IWindows& windows, HWND owner) {
  std::vector<Ending> endings;
  for (int how = 0; how < 4; ++how) {
    for (UINT type : {MB_OK, MB_OKCANCEL, MB_YESNO}) {
      for (bool owned : {false, true}) {
        g_run = {&windows, owner, how, 0};
        windows.SetTimer(owner, 77, 50, &EndTheBox);
        const int result = windows.MessageBoxW(owned ? owner : nullptr, u"text", u"caption", type);
        windows.KillTimer(owner, 77);
        endings.push_back({kHows[how].name, type, owned, result});
      }
    }
  }
  return endings;
}

}  // namespace qx::boxes
