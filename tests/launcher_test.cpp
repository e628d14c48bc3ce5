// The media launcher on the simulated device: the order of its pass, which
// player each edition starts and with what, and when it starts none.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "platform/sim/sim.h"
#include "platform/sim/text.h"

namespace qx {
namespace {

using sim::Call;

constexpr std::u16string_view kLauncherPath = u"\\Program Files\\Quorvix\\stv.exe";
constexpr std::u16string_view kClip = u"\\My Documents\\clip.asx";
constexpr std::u16string_view kPlayer2002Command = u"\"\\Program Files\\Windows Media Player 8\\player.exe\" \"%1\"";
constexpr std::u16string_view kWmplayerCommand = u"\"\\Windows\\wmplayer.exe\" %1";
const std::u16string kHttpEntry = std::u16string(kProviderKey) + u"\\HTTP-x";
const std::u16string kSocksEntry = std::u16string(kProviderKey) + u"\\SOCKS-x";

std::vector<BYTE> Sz(std::u16string_view text) {
  std::vector<BYTE> bytes;
  for (char16_t c : text) bytes.insert(bytes.end(), {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8)});
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}
std::vector<BYTE> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// ---- The pieces on their own

TEST(PlayerProgram, FromTheSavedCommand) {
  struct Case {
    const LauncherEdition* edition;
    std::u16string_view wmpPath;
    std::optional<std::u16string> program;
  };
  const Case cases[] = {
      // The stored shape: a quoted path, cut after ".exe".
      {&kStrevel2002, kWmplayerCommand, u"\\Windows\\wmplayer.exe"},
      {&kStrevel2002, kPlayer2002Command, u"\\Program Files\\Windows Media Player 8\\player.exe"},
      {&kStrevel2002, u"\"\\a.exe\\b.exe\" %1", u"\\a.exe"},
      // Quoted without ".exe" inside the quotes: the quoted text.
      {&kStrevel2002, u"\"\\Windows\\WMPLAYER.EXE\" %1", u"\\Windows\\WMPLAYER.EXE"},
      {&kStrevel2002, u"\"\\Program Files\\play\" \"x.exe\"", u"\\Program Files\\play"},
      {&kStrevel2002, u"\"\\Windows\\player", u"\\Windows\\player"},
      // Not quoted: through ".exe", else up to the first blank.
      {&kStrevel2002, u"\\Program Files\\P 8\\player.exe \"%1\"", u"\\Program Files\\P 8\\player.exe"},
      {&kStrevel2002, u"\\Windows\\wmplayer %1", u"\\Windows\\wmplayer"},
      {&kStrevel2002, u"wmplayer.exe", u"wmplayer.exe"},
      // Nothing to start.
      {&kStrevel2002, u"", std::nullopt},
      {&kStrevel2002, u"\"\" %1", std::nullopt},
      {&kStrevel2002, u"\"", std::nullopt},
      {&kStrevel2002, u" %1", std::nullopt},
      // The 2003 edition only asks for a command.
      {&kStrevel2003, u"", std::nullopt},
      {&kStrevel2003, u"x", u"\\Windows\\wmplayer.exe"},
      {&kStrevel2003, u"\"\" %1", u"\\Windows\\wmplayer.exe"},
      {&kStrevel2003, kPlayer2002Command, u"\\Windows\\wmplayer.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::Utf8(c.edition->name) + ": " + sim::Utf8(c.wmpPath));
    EXPECT_EQ(PlayerProgram(*c.edition, c.wmpPath), c.program);
  }
}

TEST(NeedsPlaylistFixUp, LongerThanFourAndEndingInAsxInAnyCase) {
  struct Case {
    std::u16string_view commandLine;
    bool fixUp;
  };
  const Case cases[] = {
      {u"\\My Documents\\clip.asx", true},
      {u"\\My Documents\\clip.ASX", true},
      {u"\\My Documents\\clip.aSx", true},
      {u"a.asx", true},
      {u"xasx", false},
      {u".asx", false},
      {u"asx", false},
      {u"", false},
      {u"\"\\My Documents\\clip.asx\"", false},
      {u"\\My Documents\\clip.asx ", false},
      {u"\\My Documents\\clip.asf", false},
      {u"mms://host/clip", false},
      {u"http://host/list.asx", true},
  };
  for (const Case& c : cases) EXPECT_EQ(NeedsPlaylistFixUp(c.commandLine), c.fixUp) << sim::Utf8(c.commandLine);
}

// ---- Whole runs

// Records the registry, process and file calls of a run in order, each named
// with the root key it works under.
class Recorder : public IRegistry, public IProcesses, public IFiles {
 public:
  explicit Recorder(Platform& inner) : inner_(inner) {}
  Platform Wrap() { return {*this, inner_.windows, *this, inner_.dialUp, *this, inner_.codePage, inner_.power}; }
  std::vector<std::string> events;

  LONG RegOpenKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result) override {
    const LONG r = inner_.registry.RegOpenKeyExW(key, subKey, access, result);
    Note(Root(key) + " open " + sim::Utf8(subKey));
    if (r == ERROR_SUCCESS) roots_[*result] = Root(key);
    return r;
  }
  LONG RegCreateKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result, DWORD* d) override {
    const LONG r = inner_.registry.RegCreateKeyExW(key, subKey, access, result, d);
    Note(Root(key) + " create " + sim::Utf8(subKey));
    if (r == ERROR_SUCCESS) roots_[*result] = Root(key);
    return r;
  }
  LONG RegQueryValueExW(HKEY key, std::u16string_view name, DWORD* type, std::span<BYTE> data, DWORD* size) override {
    Note(Root(key) + " query " + sim::Utf8(name));
    return inner_.registry.RegQueryValueExW(key, name, type, data, size);
  }
  LONG RegSetValueExW(HKEY key, std::u16string_view name, DWORD type, std::span<const BYTE> data) override {
    Note(Root(key) + " set " + sim::Utf8(name));
    return inner_.registry.RegSetValueExW(key, name, type, data);
  }
  LONG RegEnumKeyExW(HKEY key, DWORD index, std::span<char16_t> name, DWORD* length) override {
    Note(Root(key) + " enum");
    return inner_.registry.RegEnumKeyExW(key, index, name, length);
  }
  LONG RegDeleteKeyW(HKEY key, std::u16string_view subKey) override {
    Note(Root(key) + " delete " + sim::Utf8(subKey));
    return inner_.registry.RegDeleteKeyW(key, subKey);
  }
  LONG RegCloseKey(HKEY key) override {
    Note(Root(key) + " close");
    return inner_.registry.RegCloseKey(key);
  }

  HMODULE LoadLibraryW(std::u16string_view name) override { return Do("LoadLibrary").LoadLibraryW(name); }
  BOOL FreeLibrary(HMODULE module) override { return Do("FreeLibrary").FreeLibrary(module); }
  HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD id) override {
    return Do("snapshot").CreateToolhelp32Snapshot(flags, id);
  }
  BOOL Process32FirstW(HANDLE s, PROCESSENTRY32W* e) override { return Do("process").Process32FirstW(s, e); }
  BOOL Process32NextW(HANDLE s, PROCESSENTRY32W* e) override { return Do("process").Process32NextW(s, e); }
  BOOL CloseToolhelp32Snapshot(HANDLE s) override { return Do("close snapshot").CloseToolhelp32Snapshot(s); }
  HANDLE OpenProcess(DWORD a, BOOL i, DWORD id) override { return Do("OpenProcess").OpenProcess(a, i, id); }
  BOOL TerminateProcess(HANDLE p, UINT code) override { return Do("TerminateProcess").TerminateProcess(p, code); }
  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) override {
    Note("start " + sim::Utf8(info->lpFile) + " with " + sim::Utf8(info->lpParameters));
    return inner_.processes.ShellExecuteExW(info);
  }
  void Sleep(DWORD ms) override { Do("Sleep " + std::to_string(ms)).Sleep(ms); }
  DWORD GetLastError() override { return inner_.processes.GetLastError(); }
  std::u16string GetModuleFileNameW() override { return Do("module name").GetModuleFileNameW(); }

  HANDLE CreateFileW(std::u16string_view path, DWORD access, DWORD share, DWORD disposition) override {
    Note("open file " + sim::Utf8(path));
    return inner_.files.CreateFileW(path, access, share, disposition);
  }
  BOOL ReadFile(HANDLE f, std::span<BYTE> b, DWORD* n) override { return File("read").ReadFile(f, b, n); }
  BOOL WriteFile(HANDLE f, std::span<const BYTE> d, DWORD* n) override { return File("write").WriteFile(f, d, n); }
  DWORD SetFilePointer(HANDLE f, LONG d, DWORD m) override { return File("seek").SetFilePointer(f, d, m); }
  BOOL SetEndOfFile(HANDLE f) override { return File("truncate").SetEndOfFile(f); }
  // Files and processes share the kernel's handles and CloseHandle.
  BOOL CloseHandle(HANDLE h) override { return Do("close handle").CloseHandle(h); }

 private:
  // Repeats of one call in a row count once: how many reads or writes a
  // step takes is not what is checked here.
  void Note(std::string event) {
    if (events.empty() || events.back() != event) events.push_back(std::move(event));
  }
  IProcesses& Do(std::string event) {
    Note(std::move(event));
    return inner_.processes;
  }
  IFiles& File(std::string event) {
    Note(std::move(event));
    return inner_.files;
  }
  std::string Root(HKEY key) const {
    if (key == HKEY_LOCAL_MACHINE) return "HKLM";
    if (key == HKEY_CURRENT_USER) return "HKCU";
    if (key == HKEY_CLASSES_ROOT) return "HKCR";
    const auto it = roots_.find(key);
    return it == roots_.end() ? "?" : it->second;
  }

  Platform& inner_;
  std::map<HKEY, std::string> roots_;
};

class LauncherRun : public ::testing::Test {
 protected:
  void SetUp() override {
    // The gateway is on: an HTTP entry with the gateway's proxy and a twin.
    reg().SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Proxy", REG_SZ, Sz(u"gw.quorvix.net:8000"));
    reg().SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Type", REG_DWORD, {1, 0, 0, 0});
    reg().SetValue(HKEY_LOCAL_MACHINE, kSocksEntry, u"Proxy", REG_SZ, Sz(u"gw.quorvix.net:8888"));
  }
  void TearDown() override { EXPECT_EQ(device.OpenHandles(), 0u) << "a handle was left open"; }

  sim::SimRegistry& reg() { return device.registry(); }
  sim::Kernel& kernel() { return device.kernel(); }

  void SaveCommand(const LauncherEdition& edition, std::u16string_view command) {
    reg().SetValue(HKEY_CURRENT_USER, edition.deviceControl.settingsKey, kWmpPathValue, REG_SZ, Sz(command));
  }
  // Starts the edition as the shell does for a link or file.
  void Launch(const LauncherEdition& edition, std::u16string_view commandLine) {
    kernel().InstallProgram(kLauncherPath, {[&edition](Platform& platform, std::u16string_view line) {
                                              return RunStrevel(platform, edition, line);
                                            },
                                            {}});
    ASSERT_NE(kernel().StartProgram(kLauncherPath, commandLine), 0u);
  }

  // The gateway-off state of the proxy entries for this edition's port.
  void ExpectProxiesOff(const LauncherEdition& edition) {
    const std::u16string proxy = u"wap.mobilenet.co.kr:" + std::u16string(edition.name.ends_with(u"2002") ? u"1850" : u"1159");
    EXPECT_EQ(reg().GetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Proxy")->data, Sz(proxy));
    EXPECT_EQ(reg().GetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Type")->data, (std::vector<BYTE>{0, 0, 0, 0}));
    EXPECT_FALSE(reg().KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry));
  }
  bool LauncherStillRuns() {
    for (const auto& process : kernel().Processes()) {
      if (process.image == kLauncherPath) return true;
    }
    return false;
  }

  sim::SimDevice device;
};

const LauncherEdition* const kEditions[] = {&kStrevel2002, &kStrevel2003};

TEST_F(LauncherRun, ProxiesGoOffEvenWhenNoPlayerStarts) {
  const std::u16string tooLong(130, u'x');
  struct Case {
    const char* what;
    std::optional<std::u16string_view> wmpPath;  // nullopt: key without the value
    bool key;
  };
  const Case cases[] = {
      {"settings key missing", std::nullopt, false},
      {"wmp_path missing", std::nullopt, true},
      {"wmp_path empty", u"", true},
      {"wmp_path over 129 characters", tooLong, true},
  };
  for (const LauncherEdition* edition : kEditions) {
    for (const Case& c : cases) {
      SCOPED_TRACE(sim::Utf8(edition->name) + ", " + c.what);
      sim::SimDevice fresh;
      device.~SimDevice();
      new (&device) sim::SimDevice();
      SetUp();
      if (c.key) ASSERT_TRUE(reg().CreateKey(HKEY_CURRENT_USER, edition->deviceControl.settingsKey));
      if (c.wmpPath) SaveCommand(*edition, *c.wmpPath);
      kernel().PutFile(kClip, Bytes("http://host/clip"));
      Launch(*edition, kClip);
      ExpectProxiesOff(*edition);
      EXPECT_TRUE(kernel().ShellStarts().empty());
      EXPECT_EQ(kernel().GetFile(kClip), Bytes("http://host/clip")) << "no repair without a player";
      EXPECT_EQ(reg().KeyExists(HKEY_CURRENT_USER, edition->deviceControl.settingsKey), c.key);
      EXPECT_FALSE(LauncherStillRuns());
      EXPECT_EQ(device.OpenHandles(), 0u);
    }
  }
}

TEST_F(LauncherRun, ProxiesFirstThenPauseThenCommandThenRepairThenPlayer) {
  for (const LauncherEdition* edition : kEditions) {
    SCOPED_TRACE(sim::Utf8(edition->name));
    SaveCommand(*edition, kWmplayerCommand);
    kernel().PutFile(kClip, Bytes("http://host/clip"));
    Recorder recorder(device.platform());
    Platform recorded = recorder.Wrap();
    RunStrevel(recorded, *edition, kClip);

    const auto& events = recorder.events;
    const auto pause = std::find(events.begin(), events.end(), "Sleep 0");
    ASSERT_NE(pause, events.end());
    ASSERT_NE(pause, events.begin());
    EXPECT_EQ(events.front(), "HKLM open " + sim::Utf8(kProviderKey));
    for (auto it = events.begin(); it != pause; ++it) EXPECT_EQ(it->rfind("HKLM ", 0), 0u) << *it;
    const std::vector<std::string> rest(pause + 1, events.end());
    EXPECT_EQ(rest, (std::vector<std::string>{
                        "HKCU open " + sim::Utf8(edition->deviceControl.settingsKey),
                        "HKCU query wmp_path",
                        "HKCU close",
                        "open file \\My Documents\\clip.asx",
                        "read",
                        "seek",
                        "write",
                        "truncate",
                        "close handle",
                        "start \\Windows\\wmplayer.exe with \\My Documents\\clip.asx",
                        "close handle",
                    }));
    ExpectProxiesOff(*edition);
    EXPECT_EQ(kernel().GetFile(kClip), Bytes("<asx version=\"3.0\">\r\n<entry>\r\n<ref href=\"http://host/clip\"/>\r\n"
                                             "</entry>\r\n</asx>"));
  }
}

TEST_F(LauncherRun, EachEditionStartsItsPlayerWithTheUnchangedCommandLine) {
  const std::u16string longest2002 = u"\"\\" + std::u16string(120, u'p') + u".exe\" %1";
  ASSERT_EQ(longest2002.size(), kMaxOpenCommandChars);
  struct Case {
    const LauncherEdition* edition;
    std::u16string wmpPath;
    std::u16string player;
  };
  const Case cases[] = {
      {&kStrevel2002, std::u16string(kWmplayerCommand), u"\\Windows\\wmplayer.exe"},
      {&kStrevel2002, std::u16string(kPlayer2002Command), u"\\Program Files\\Windows Media Player 8\\player.exe"},
      {&kStrevel2002, longest2002, longest2002.substr(1, 126)},
      {&kStrevel2003, std::u16string(kWmplayerCommand), u"\\Windows\\wmplayer.exe"},
      {&kStrevel2003, std::u16string(kPlayer2002Command), u"\\Windows\\wmplayer.exe"},
      {&kStrevel2003, u"?", u"\\Windows\\wmplayer.exe"},
      {&kStrevel2003, std::u16string(kMaxOpenCommandChars, u'x'), u"\\Windows\\wmplayer.exe"},
  };
  const std::u16string_view lines[] = {u"mms://host/live", u"\"\\My Documents\\clip.asx\""};
  for (const Case& c : cases) {
    for (std::u16string_view line : lines) {
      SCOPED_TRACE(sim::Utf8(c.edition->name) + ": " + sim::Utf8(c.wmpPath) + " / " + sim::Utf8(line));
      SaveCommand(*c.edition, c.wmpPath);
      kernel().PutFile(kClip, Bytes("http://host/clip"));
      const std::size_t starts = kernel().ShellStarts().size();
      const std::size_t opens = device.ledger().Count(Call::CreateFileW);
      Launch(*c.edition, line);
      ASSERT_EQ(kernel().ShellStarts().size(), starts + 1);
      EXPECT_EQ(kernel().ShellStarts().back(), c.player + u" " + std::u16string(line));
      // Neither a link nor a quoted path is a playlist to repair.
      EXPECT_EQ(device.ledger().Count(Call::CreateFileW), opens);
      EXPECT_EQ(kernel().GetFile(kClip), Bytes("http://host/clip"));
      ExpectProxiesOff(*c.edition);
    }
  }
}

TEST_F(LauncherRun, PlaylistsAreRepairedBeforeThePlayerGetsThem) {
  constexpr std::u16string_view kUpper = u"\\My Documents\\CLIP.ASX";
  SaveCommand(kStrevel2003, u"wmplayer.exe %1");
  struct Case {
    const char* what;
    std::string content;
    bool wrapped;
  };
  const Case cases[] = {
      {"upper-case link", "HTTP://HOST/CLIP", true},
      {"mixed-case link", "Http://host/clip", false},
      {"playlist", "<asx version=\"3.0\"></asx>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kernel().PutFile(kUpper, Bytes(c.content));
    Launch(kStrevel2003, kUpper);
    const std::string expected =
        c.wrapped ? "<asx version=\"3.0\">\r\n<entry>\r\n<ref href=\"" + c.content + "\"/>\r\n</entry>\r\n</asx>"
                  : c.content;
    EXPECT_EQ(kernel().GetFile(kUpper), Bytes(expected));
    EXPECT_EQ(kernel().ShellStarts().back(), u"\\Windows\\wmplayer.exe " + std::u16string(kUpper));
  }
}

TEST_F(LauncherRun, ThePlayerComesToTheFrontAndTheBrowserLeavesIt) {
  for (const LauncherEdition* edition : kEditions) {
    SCOPED_TRACE(sim::Utf8(edition->name));
    SaveCommand(*edition, kWmplayerCommand);
    const HWND browser =
        kernel().OpenWorldWindow(u"iexplore.exe", u"IExplore", u"Internet Explorer", {0, 26, 240, 294});
    kernel().BringToFront(browser);
    ASSERT_EQ(kernel().GetForegroundWindow(), browser);
    Launch(*edition, u"mms://host/live");
    const auto windows = kernel().TopLevelWindows();
    ASSERT_FALSE(windows.empty());
    EXPECT_EQ(windows.front().className, u"WMP");
    EXPECT_EQ(windows.front().title, u"Windows Media");
    EXPECT_EQ(kernel().GetForegroundWindow(), windows.front().hwnd);
    EXPECT_FALSE(LauncherStillRuns());
    kernel().CloseWindow(windows.front().hwnd);
    kernel().CloseWindow(browser);
  }
}

TEST_F(LauncherRun, TheApplicationObjectEndsTheProgramAtOnce) {
  SaveCommand(kStrevel2002, kPlayer2002Command);
  CStrevelApp app(device.platform(), kStrevel2002, u"mms://host/live");
  EXPECT_EQ(app.InitInstance(), FALSE);
  EXPECT_EQ(kernel().ShellStarts(),
            std::vector<std::u16string>{u"\\Program Files\\Windows Media Player 8\\player.exe mms://host/live"});
  EXPECT_EQ(app.m_pMainWnd, nullptr);
}

}  // namespace
}  // namespace qx
