// The simulated device's kernel: how programs take turns, what a message
// between programs waits for, how programs end, and the world's stand-ins.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/framework/framework.h"
#include "platform/sim/sim.h"
#include "tests/box_endings.h"

namespace qx::sim {
namespace {

constexpr DialogTemplate kPlainWindow{900, u"Plain", WS_POPUP | WS_VISIBLE, 0, 0, 0, 40, 20, u"System", 8, {}};
constexpr UINT kAsk = WM_USER + 1;

// A program with one window whose messages a test scripts.
struct Recorder : IWindowHandler {
  Platform* platform = nullptr;
  std::vector<UINT> seen;
  std::function<LRESULT(UINT, WPARAM)> on;
  bool HandleMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT* result) override {
    seen.push_back(message);
    if (on) {
      *result = on(message, wParam);
      return true;
    }
    return false;
  }
};

class Kernel : public ::testing::Test {
 protected:
  // Installs a program that opens its window and pumps messages until
  // WM_QUIT; `cleanUp` runs when its loop ends.
  void InstallWindowProgram(std::u16string path, Recorder& recorder, bool* cleanedUp = nullptr) {
    device.kernel().InstallProgram(path, {[&recorder, cleanedUp](Platform& platform, std::u16string_view) {
                                            recorder.platform = &platform;
                                            platform.windows.CreateDialogIndirectW(kPlainWindow, nullptr, &recorder);
                                            MSG msg;
                                            while (platform.windows.GetMessageW(&msg)) platform.windows.DispatchMessageW(&msg);
                                            if (cleanedUp != nullptr) *cleanedUp = true;
                                            return 0;
                                          },
                                          {}});
  }

  HWND WindowOf(std::u16string_view image) {
    for (const auto& window : device.kernel().TopLevelWindows()) {
      if (device.kernel().ProcessImage(window.processId) == image) return window.hwnd;
    }
    return nullptr;
  }

  bool Running(std::u16string_view image) {
    for (const auto& process : device.kernel().Processes()) {
      if (process.image == image) return true;
    }
    return false;
  }

  std::vector<std::string> EffectTexts() {
    std::vector<std::string> texts;
    for (const auto& effect : device.kernel().TakeEffects()) texts.push_back(effect.text);
    return texts;
  }

  SimDevice device;
};

TEST_F(Kernel, AMessageToAnotherProgramIsAnsweredOnItsOwnTurn) {
  Recorder receiver;
  std::u16string handledBy;
  receiver.on = [&](UINT message, WPARAM wParam) -> LRESULT {
    if (message != kAsk) return 0;
    handledBy = receiver.platform->processes.GetModuleFileNameW();
    return static_cast<LRESULT>(wParam * 2);
  };
  InstallWindowProgram(u"\\receiver.exe", receiver);
  ASSERT_NE(device.kernel().StartProgram(u"\\receiver.exe", u""), 0u);

  LRESULT answer = 0;
  device.kernel().InstallProgram(u"\\sender.exe", {[&](Platform& platform, std::u16string_view) {
                                                     answer = platform.windows.SendMessageW(
                                                         platform.windows.FindWindowW(u"Dialog", u"Plain"), kAsk, 21, 0);
                                                     return 0;
                                                   },
                                                   {}});
  device.kernel().StartProgram(u"\\sender.exe", u"");
  EXPECT_EQ(answer, 42);
  EXPECT_EQ(handledBy, u"\\receiver.exe");
  // The world may ask too.
  EXPECT_EQ(device.kernel().SendFromShell(WindowOf(u"\\receiver.exe"), kAsk, 5, 0), 10);
}

TEST_F(Kernel, ATerminatedProgramLosesItsWindowsWithoutItsCleanUp) {
  Recorder recorder;
  bool cleanedUp = false;
  InstallWindowProgram(u"\\victim.exe", recorder, &cleanedUp);
  const DWORD pid = device.kernel().StartProgram(u"\\victim.exe", u"");
  IProcesses& processes = device.platform().processes;
  const HANDLE process = processes.OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(processes.TerminateProcess(process, 0));
  processes.CloseHandle(process);
  device.kernel().RunUntilQuiet();

  EXPECT_FALSE(Running(u"\\victim.exe"));
  EXPECT_EQ(WindowOf(u"\\victim.exe"), nullptr);
  EXPECT_FALSE(cleanedUp);
  EXPECT_EQ(std::count(recorder.seen.begin(), recorder.seen.end(), WM_DESTROY), 0);
  EXPECT_EQ(device.OpenHandles(), 0u);
}

TEST_F(Kernel, TimersFireOnlyAsVirtualTimePasses) {
  Recorder recorder;
  int ticks = 0;
  recorder.on = [&](UINT message, WPARAM) -> LRESULT {
    if (message == WM_TIMER) ++ticks;
    if (message == WM_INITDIALOG) return TRUE;
    return 0;
  };
  InstallWindowProgram(u"\\clock.exe", recorder);
  device.kernel().StartProgram(u"\\clock.exe", u"");
  const HWND window = WindowOf(u"\\clock.exe");
  device.kernel().SendFromShell(window, WM_NULL, 0, 0);
  ASSERT_EQ(device.platform().windows.SetTimer(window, 1, 200, nullptr), 1u);

  device.kernel().RunUntilQuiet();
  EXPECT_EQ(ticks, 0);
  device.kernel().AdvanceTime(199);
  EXPECT_EQ(ticks, 0);
  device.kernel().AdvanceTime(1);
  EXPECT_EQ(ticks, 1);
  device.kernel().AdvanceTime(1000);
  EXPECT_EQ(ticks, 6);
  EXPECT_TRUE(device.platform().windows.KillTimer(window, 1));
  device.kernel().AdvanceTime(1000);
  EXPECT_EQ(ticks, 6);
  EXPECT_EQ(device.kernel().Now(), 2200u);
}

TEST_F(Kernel, MessageBoxesTakeQueuedAnswersOrWaitForOne) {
  int first = 0;
  int second = 0;
  device.kernel().InstallProgram(u"\\asker.exe", {[&](Platform& platform, std::u16string_view) {
                                                    first = platform.windows.MessageBoxW(nullptr, u"Sure?", u"Q", MB_YESNO);
                                                    second = platform.windows.MessageBoxW(nullptr, u"Go?", u"Q", MB_OKCANCEL);
                                                    return 0;
                                                  },
                                                  {}});
  std::string why;
  ASSERT_TRUE(device.kernel().Answer(IDNO, &why));  // queued for the first box
  device.kernel().StartProgram(u"\\asker.exe", u"");
  EXPECT_EQ(first, IDNO);
  EXPECT_TRUE(device.kernel().BoxOpen());  // the second waits
  EXPECT_FALSE(device.kernel().Answer(IDYES, &why));
  EXPECT_NE(why.find("OK, Cancel"), std::string::npos);
  EXPECT_TRUE(device.kernel().Answer(IDCANCEL, &why));
  EXPECT_EQ(second, IDCANCEL);
  EXPECT_FALSE(Running(u"\\asker.exe"));
}

// A box its own program ends answers IDCANCEL whatever buttons it shows,
// and 0 when destroyed, as Wine's do (the backend check runs the same
// story on Win32).
TEST_F(Kernel, EveryKindOfBoxThatItsProgramEndsAnswersCancel) {
  std::vector<boxes::Ending> endings;
  device.kernel().InstallProgram(u"\\ender.exe", {[&](Platform& platform, std::u16string_view) {
                                                    const HWND owner =
                                                        platform.windows.CreateDialogIndirectW(kPlainWindow, nullptr, nullptr);
                                                    endings = boxes::EndEveryKind(platform.windows, owner);
                                                    return 0;
                                                  },
                                                  {}});
  device.kernel().StartProgram(u"\\ender.exe", u"");
  for (int i = 0; i < 24 * 25 && Running(u"\\ender.exe"); ++i) device.kernel().AdvanceTime(50);
  ASSERT_EQ(endings.size(), 24u);
  for (const boxes::Ending& ending : endings) {
    SCOPED_TRACE(ending.how + " " + std::to_string(ending.type) + (ending.owned ? " owned" : ""));
    EXPECT_EQ(ending.result, ending.how == "DestroyWindow" ? 0 : IDCANCEL);
  }
  EXPECT_FALSE(Running(u"\\ender.exe"));
}

TEST_F(Kernel, SoftResetEndsEveryProgramAndKeepsRegistryAndFiles) {
  Recorder recorder;
  InstallWindowProgram(u"\\app.exe", recorder);
  device.kernel().StartProgram(u"\\app.exe", u"");
  device.registry().SetValue(HKEY_CURRENT_USER, u"Software\\Kept", u"v", REG_DWORD, std::vector<BYTE>{1, 0, 0, 0});
  device.kernel().PutFile(u"\\kept.txt", {'k'});
  device.kernel().InstallProgram(u"\\reset.exe", {[](Platform& platform, std::u16string_view) {
                                                    platform.power.KernelIoControl(IOCTL_HAL_REBOOT, {}, {}, nullptr);
                                                    ADD_FAILURE() << "a reset came back";
                                                    return 0;
                                                  },
                                                  {}});
  device.kernel().StartProgram(u"\\reset.exe", u"");

  EXPECT_FALSE(Running(u"\\app.exe"));
  EXPECT_FALSE(Running(u"\\reset.exe"));
  EXPECT_TRUE(Running(u"connmgr.exe"));
  EXPECT_TRUE(device.registry().KeyExists(HKEY_CURRENT_USER, u"Software\\Kept"));
  EXPECT_TRUE(device.kernel().GetFile(u"\\KEPT.TXT").has_value());
}

TEST_F(Kernel, TheWorldStandsInForTheDevicesOwnPrograms) {
  IProcesses& processes = device.platform().processes;
  const auto start = [&](std::u16string_view file, std::u16string_view parameters) {
    SHELLEXECUTEINFOW info;
    info.lpVerb = u"open";
    info.lpFile = file;
    info.lpParameters = parameters;
    const BOOL started = processes.ShellExecuteExW(&info);
    if (info.hProcess != nullptr) processes.CloseHandle(info.hProcess);
    return started;
  };
  EXPECT_TRUE(start(u"iexplore.exe", u"http://a/"));
  const HWND browser = device.platform().windows.FindWindowW(u"IExplore", u"Internet Explorer");
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(device.platform().windows.GetForegroundWindow(), browser);
  RECT client{};
  device.platform().windows.GetClientRect(browser, &client);
  EXPECT_EQ(client.bottom - client.top, 268);

  EXPECT_TRUE(start(u"\\Windows\\wmplayer.exe", u"mms://x"));
  EXPECT_NE(device.platform().windows.GetForegroundWindow(), browser);

  EXPECT_FALSE(start(u"\\nowhere.exe", u""));
  EXPECT_EQ(processes.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // The browser's process ends with its window.
  EXPECT_TRUE(device.platform().windows.DestroyWindow(browser));
  EXPECT_FALSE(Running(u"iexplore.exe"));
  EXPECT_EQ(device.OpenHandles(), 0u);
}

TEST_F(Kernel, DialUpRecordsMustHoldEveryConnection) {
  for (int i = 0; i < 3; ++i) device.kernel().Dial(u"Line " + std::u16string(1, static_cast<char16_t>(u'0' + i)));
  std::array<RASCONN, 2> small{};
  small[0].dwSize = 52;
  DWORD bytes = sizeof(small) / sizeof(small[0]) * 52;
  DWORD count = 0;
  EXPECT_EQ(device.platform().dialUp.RasEnumConnectionsW(small, &bytes, &count),
            static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL));
  EXPECT_EQ(bytes, 3u * 52);

  std::array<RASCONN, 20> records{};
  records[0].dwSize = 52;
  bytes = 20 * 52;
  ASSERT_EQ(device.platform().dialUp.RasEnumConnectionsW(records, &bytes, &count), 0u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(device.platform().dialUp.RasHangUpW(records[1].hrasconn), 0u);
  EXPECT_EQ(device.kernel().Connections(), (std::vector<std::u16string>{u"Line 0", u"Line 2"}));

  device.ledger().Plan({Call::RasHangUpW, 1, 1, 668});
  EXPECT_EQ(device.platform().dialUp.RasHangUpW(records[0].hrasconn), 668u);
  EXPECT_EQ(device.kernel().Connections().size(), 2u);
}

TEST_F(Kernel, FilesOpenOnlyWhenTheyExist) {
  IFiles& files = device.platform().files;
  EXPECT_EQ(files.CreateFileW(u"\\none.asx", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(files.CreateFileW(u"\\none.asx", GENERIC_WRITE, 0, 2 /* CREATE_ALWAYS */), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(device.kernel().GetFile(u"\\none.asx").has_value());

  device.kernel().PutFile(u"\\a.txt", {'a', 'b', 'c', 'd'});
  const HANDLE file = files.CreateFileW(u"\\A.TXT", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::array<BYTE, 8> buffer{};
  DWORD read = 0;
  EXPECT_TRUE(files.ReadFile(file, buffer, &read));
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(files.SetFilePointer(file, 1, FILE_BEGIN), 1u);
  DWORD written = 0;
  const BYTE x[] = {'X'};
  EXPECT_TRUE(files.WriteFile(file, x, &written));
  EXPECT_TRUE(files.SetEndOfFile(file));
  EXPECT_EQ(files.SetFilePointer(file, -5, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_TRUE(files.CloseHandle(file));
  EXPECT_EQ(*device.kernel().GetFile(u"\\a.txt"), (std::vector<BYTE>{'a', 'X'}));
  EXPECT_EQ(device.OpenHandles(), 0u);
}

TEST_F(Kernel, AProgramMayNotDestroyAnotherProgramsWindow) {
  Recorder recorder;
  InstallWindowProgram(u"\\owner.exe", recorder);
  device.kernel().StartProgram(u"\\owner.exe", u"");
  const HWND window = WindowOf(u"\\owner.exe");
  BOOL destroyed = TRUE;
  device.kernel().InstallProgram(u"\\other.exe", {[&](Platform& platform, std::u16string_view) {
                                                    destroyed = platform.windows.DestroyWindow(window);
                                                    return 0;
                                                  },
                                                  {}});
  device.kernel().StartProgram(u"\\other.exe", u"");
  EXPECT_FALSE(destroyed);
  EXPECT_NE(WindowOf(u"\\owner.exe"), nullptr);
}

// Arguments that change what Win32 does change what the device does: a
// process opened without the right to terminate stays, an unknown verb starts
// nothing, and a key opened for reading cannot be written.
TEST_F(Kernel, ArgumentsThatWin32HonoursAreHonoured) {
  IProcesses& processes = device.platform().processes;
  const DWORD pid = device.kernel().AddWorldProcess(u"notes.exe");
  const HANDLE readOnly = processes.OpenProcess(0, FALSE, pid);
  EXPECT_FALSE(processes.TerminateProcess(readOnly, 7));
  EXPECT_EQ(processes.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  processes.CloseHandle(readOnly);
  const HANDLE process = processes.OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  EXPECT_TRUE(processes.TerminateProcess(process, 7));
  processes.CloseHandle(process);
  ASSERT_EQ(device.kernel().Terminations().size(), 1u);
  EXPECT_EQ(device.kernel().Terminations()[0].exitCode, 7u);

  SHELLEXECUTEINFOW print;
  print.lpVerb = u"print";
  print.lpFile = u"connmgr.exe";
  EXPECT_FALSE(processes.ShellExecuteExW(&print));
  EXPECT_EQ(processes.GetLastError(), 1155u);  // no program for that action
  SHELLEXECUTEINFOW open;
  open.lpVerb = u"open";
  open.lpFile = u"connmgr.exe";
  open.lpDirectory = u"\\Windows";
  open.nShow = SW_HIDE;
  EXPECT_TRUE(processes.ShellExecuteExW(&open));
  ASSERT_EQ(device.kernel().ShellRequests().size(), 2u);
  EXPECT_EQ(device.kernel().ShellRequests()[1].directory, u"\\Windows");
  EXPECT_EQ(device.kernel().ShellRequests()[1].show, SW_HIDE);
  const auto effects = device.kernel().TakeEffects();
  EXPECT_TRUE(std::ranges::any_of(effects, [](const Effect& e) {
    return e.text.find("process terminated: \"notes.exe\"") == 0 && e.text.find("exit code 7)") != std::string::npos;
  }));

  IRegistry& registry = device.platform().registry;
  HKEY key = nullptr;
  ASSERT_EQ(registry.RegCreateKeyExW(HKEY_CURRENT_USER, u"A", KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  registry.RegCloseKey(key);
  ASSERT_EQ(registry.RegOpenKeyExW(HKEY_CURRENT_USER, u"A", KEY_READ, &key), ERROR_SUCCESS);
  const BYTE one[4] = {1, 0, 0, 0};
  EXPECT_EQ(registry.RegSetValueExW(key, u"V", REG_DWORD, one), ERROR_ACCESS_DENIED);
  HKEY below = nullptr;
  EXPECT_EQ(registry.RegCreateKeyExW(key, u"B", KEY_ALL_ACCESS, &below, nullptr), ERROR_ACCESS_DENIED);
  DWORD size = 0;
  EXPECT_EQ(registry.RegQueryValueExW(key, u"V", nullptr, {}, &size), ERROR_FILE_NOT_FOUND);
  registry.RegCloseKey(key);
  EXPECT_FALSE(device.registry().GetValue(HKEY_CURRENT_USER, u"A", u"V").has_value());
}

// With tracing on, registry changes take their place among the other
// effects, each naming the program that made it; messages to the world's
// windows are effects whether tracing or not.
TEST_F(Kernel, TracingOrdersRegistryChangesAmongEffectsAndNamesTheProgram) {
  const HWND notes = device.kernel().OpenWorldWindow(u"notes.exe", u"Notes", u"Notes", {0, 26, 240, 294});
  device.kernel().InstallProgram(u"\\writer.exe", {[&](Platform& platform, std::u16string_view) {
                                                      RegKey key(platform.registry);
                                                      key.Create(HKEY_CURRENT_USER, u"Software\\W");
                                                      key.WriteDword(u"N", 1);
                                                      platform.windows.PostMessageW(notes, WM_USER + 5, 2, 3);
                                                      key.Close();
                                                      platform.registry.RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\W");
                                                      return 0;
                                                    },
                                                    {}});
  device.kernel().SetTracing(true);
  device.kernel().StartProgram(u"\\writer.exe", u"");
  std::vector<std::string> lines;
  for (const Effect& e : device.kernel().TakeEffects()) {
    if (e.kind == Effect::Kind::Registry || e.kind == Effect::Kind::Message) lines.push_back(e.program + ": " + e.text);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "writer.exe: create [HKEY_CURRENT_USER\\Software\\W]",
                       "writer.exe: set [HKEY_CURRENT_USER\\Software\\W] \"N\"=dword:00000001",
                       "writer.exe: message 1029 (2, 3) posted to \"Notes\" (Notes of notes.exe)",
                       "writer.exe: delete [HKEY_CURRENT_USER\\Software\\W]",
                   }));
}

}  // namespace
}  // namespace qx::sim
