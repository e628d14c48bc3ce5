// Restarting the Connection Manager and the browser, so that changed proxy
// entries and User-Agent settings take effect, and showing pages.
#include "devicecontrol/device_control.h"

namespace qx {

namespace {

constexpr std::u16string_view kConnectionManagerImage = u"connmgr.exe";
constexpr std::u16string_view kBrowserImage = u"iexplore.exe";
constexpr std::u16string_view kBrowserClass = u"IExplore";
constexpr std::u16string_view kBrowserTitle = u"Internet Explorer";

}  // namespace

BOOL CDeviceControl::RestartConnectionManager() {
  IProcesses& processes = platform_.processes;
  // The process list comes from the toolhelp library; without it the
  // Connection Manager is left alone rather than started twice.
  const HMODULE toolhelp = processes.LoadLibraryW(u"toolhelp.dll");
  if (toolhelp == nullptr) {
    platform_.windows.MessageBoxW(nullptr, u"Toolhelp.dll not found", u"TrayTaskList", MB_OK);
    return FALSE;
  }
  // Every restart takes one reference on the library and gives it back, so
  // weeks of restarts leave the count where it was.
  const BOOL listed = TerminateProcessesByImage(processes, kConnectionManagerImage, /*firstOnly=*/false);
  processes.FreeLibrary(toolhelp);
  if (!listed) return FALSE;

  // No wait for the terminated processes: the new one starts at once.
  StartProgram(processes, kConnectionManagerImage, u"");
  return TRUE;
}

void CDeviceControl::CloseBrowser() {
  const HWND browser = platform_.windows.FindWindowW(kBrowserClass, kBrowserTitle);
  if (browser != nullptr) platform_.windows.DestroyWindow(browser);
}

BOOL CDeviceControl::OpenInBrowser(std::u16string_view url) {
  return StartProgram(platform_.processes, kBrowserImage, url);
}

}  // namespace qx
