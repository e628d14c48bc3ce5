// The media launcher on the simulated device: the order of its pass, which
// player each edition starts and with what, and when it starts none.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "platform/sim/sim.h"
#include "platform/sim/text.h"
#include "tests/test_bytes.h"

namespace qx {
namespace {

using namespace qx::testing_bytes;

using sim::Utf8;

constexpr std::u16string_view kLauncherPath = u"\\Program Files\\Quorvix\\stv.exe";
constexpr std::u16string_view kClip = u"\\My Documents\\clip.asx";
constexpr std::u16string_view kPlayer8Command = u"\"\\Program Files\\Windows Media Player 8\\player.exe\" \"%1\"";
constexpr std::u16string_view kPlayer8 = u"\\Program Files\\Windows Media Player 8\\player.exe";
constexpr std::u16string_view kWmplayerCommand = u"\"\\Windows\\wmplayer.exe\" %1";
constexpr std::u16string_view kWmplayer = u"\\Windows\\wmplayer.exe";
const std::u16string kHttpEntry = std::u16string(kProviderKey) + u"\\HTTP-x";
const std::u16string kSocksEntry = std::u16string(kProviderKey) + u"\\SOCKS-x";
const LauncherEdition* const kEditions[] = {&kStrevel2002, &kStrevel2003};

std::vector<BYTE> Bytes(std::string_view text) { return {text.begin(), text.end()}; }
std::vector<BYTE> Wrapped(std::string_view link) {
  return Bytes("<asx version=\"3.0\">\r\n<entry>\r\n<ref href=\"" + std::string(link) + "\"/>\r\n</entry>\r\n</asx>");
}

// ---- The pieces on their own

TEST(PlayerProgram, FromTheSavedCommand) {
  struct Case {
    const LauncherEdition* edition;
    std::u16string_view wmpPath;
    std::optional<std::u16string_view> program;
  };
  const Case cases[] = {
      // The stored shape: a quoted path, cut after its first ".exe".
      {&kStrevel2002, kWmplayerCommand, kWmplayer},
      {&kStrevel2002, kPlayer8Command, kPlayer8},
      {&kStrevel2002, u"\"\\a.exe\\b.exe\" %1", u"\\a.exe"},
      // Quoted without ".exe" (this case) inside the quotes: the quoted text.
      {&kStrevel2002, u"\"\\Windows\\WMPLAYER.EXE\" %1", u"\\Windows\\WMPLAYER.EXE"},
      {&kStrevel2002, u"\"\\Program Files\\play\" \"x.exe\"", u"\\Program Files\\play"},
      {&kStrevel2002, u"\"\\Windows\\player", u"\\Windows\\player"},
      // Not quoted: through ".exe", else up to the first blank.
      {&kStrevel2002, u"\\Program Files\\P 8\\player.exe \"%1\"", u"\\Program Files\\P 8\\player.exe"},
      {&kStrevel2002, u"\\Windows\\wmplayer %1", u"\\Windows\\wmplayer"},
      // Nothing to start.
      {&kStrevel2002, u"", std::nullopt},
      {&kStrevel2002, u"\"\" %1", std::nullopt},
      {&kStrevel2002, u"\"", std::nullopt},
      {&kStrevel2002, u" %1", std::nullopt},
      // The 2003 edition only asks for a command.
      {&kStrevel2003, u"", std::nullopt},
      {&kStrevel2003, u"\"\" %1", kWmplayer},
      {&kStrevel2003, kPlayer8Command, kWmplayer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.edition->name) + ": " + Utf8(c.wmpPath));
    const auto program = PlayerProgram(*c.edition, c.wmpPath);
    EXPECT_EQ(program ? Utf8(*program) : "(none)", c.program ? Utf8(*c.program) : "(none)");
  }
}

TEST(NeedsPlaylistFixUp, TheTargetLongerThanFourAndEndingInAsxInAnyCase) {
  struct Case {
    std::u16string_view line;
    std::u16string_view target;
    bool fixUp;
  };
  const Case cases[] = {
      {u"\\My Documents\\clip.asx", u"\\My Documents\\clip.asx", true},
      {u"\\My Documents\\clip.ASX", u"\\My Documents\\clip.ASX", true},
      {u"a.aSx", u"a.aSx", true},
      {u"xasx", u"xasx", false},
      {u"clip.asx ", u"clip.asx ", false},
      {u"clip.asf", u"clip.asf", false},
      {u"mms://host/clip", u"mms://host/clip", false},
      // One string in quotes, as the shell's open commands pass "%1": the
      // test and the file are the text inside them.
      {u"\"\\My Documents\\clip.asx\"", u"\\My Documents\\clip.asx", true},
      {u"\"a.ASX\"", u"a.ASX", true},
      {u"\"xasx\"", u"xasx", false},
      {u"\"mms://host/clip.asx\"", u"mms://host/clip.asx", true},
      {u"\"\"", u"", false},
      // Anything else keeps its quotes and is no playlist.
      {u"\"", u"\"", false},
      {u"\"clip.asx", u"\"clip.asx", true},
      {u"\"a\" \"clip.asx\"", u"\"a\" \"clip.asx\"", false},
      {u" \"clip.asx\"", u" \"clip.asx\"", false},
  };
  for (const Case& c : cases) {
    const std::u16string_view target = TargetOfCommandLine(c.line);
    EXPECT_EQ(Utf8(target), Utf8(c.target)) << Utf8(c.line);
    EXPECT_EQ(NeedsPlaylistFixUp(target), c.fixUp) << Utf8(c.line);
  }
}

// ---- Whole runs

// The gateway is on: an HTTP entry with the gateway's proxy and its twin.
void GatewayOn(sim::SimDevice& device) {
  device.registry().SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Proxy", REG_SZ, Sz(u"gw.quorvix.net:8000"));
  device.registry().SetValue(HKEY_LOCAL_MACHINE, kHttpEntry, u"Type", REG_DWORD, std::vector<BYTE>{1, 0, 0, 0});
  device.registry().SetValue(HKEY_LOCAL_MACHINE, kSocksEntry, u"Proxy", REG_SZ, Sz(u"gw.quorvix.net:8888"));
}

void SaveCommand(sim::SimDevice& device, const LauncherEdition& edition, std::u16string_view command) {
  device.registry().SetValue(HKEY_CURRENT_USER, edition.deviceControl.settingsKey, kWmpPathValue, REG_SZ,
                             Sz(command));
}

// Starts the edition as the shell does for a link or file; the launcher has
// ended when this returns.
void Launch(sim::SimDevice& device, const LauncherEdition& edition, std::u16string_view commandLine) {
  device.kernel().InstallProgram(kLauncherPath, {[&edition](Platform& platform, std::u16string_view line) {
                                                   return RunStrevel(platform, edition, line);
                                                 },
                                                 {}});
  ASSERT_NE(device.kernel().StartProgram(kLauncherPath, commandLine), 0u);
  for (const auto& process : device.kernel().Processes()) EXPECT_NE(process.image, kLauncherPath);
}

// The gateway-off state of the entries, with the edition's default proxy.
void ExpectProxiesOff(sim::SimDevice& device, const LauncherEdition& edition) {
  const auto value = [&](std::u16string_view name) {
    return device.registry().GetValue(HKEY_LOCAL_MACHINE, kHttpEntry, name).value_or(sim::RegValue{}).data;
  };
  EXPECT_EQ(value(u"Proxy"), Sz(&edition == &kStrevel2002 ? u"wap.mobilenet.co.kr:1850" : u"wap.mobilenet.co.kr:1159"));
  EXPECT_EQ(value(u"Type"), (std::vector<BYTE>{0, 0, 0, 0}));
  EXPECT_FALSE(device.registry().KeyExists(HKEY_LOCAL_MACHINE, kSocksEntry));
}

TEST(LauncherRun, ProxiesGoOffEvenWhenNoPlayerStarts) {
  const std::u16string tooLong(130, u'x');  // one more than a 260-byte value holds
  struct Case {
    const char* what;
    bool key;
    std::optional<std::u16string_view> wmpPath;  // nullopt: no such value
  };
  const Case cases[] = {
      {"settings key missing", false, std::nullopt},
      {"wmp_path missing", true, std::nullopt},
      {"wmp_path empty", true, u""},
      {"wmp_path over 129 characters", true, tooLong},
  };
  for (const LauncherEdition* edition : kEditions) {
    for (const Case& c : cases) {
      SCOPED_TRACE(Utf8(edition->name) + ", " + c.what);
      sim::SimDevice device;
      GatewayOn(device);
      if (c.key) device.registry().CreateKey(HKEY_CURRENT_USER, edition->deviceControl.settingsKey);
      if (c.wmpPath) SaveCommand(device, *edition, *c.wmpPath);
      device.kernel().PutFile(kClip, Bytes("http://host/clip"));
      Launch(device, *edition, kClip);
      ExpectProxiesOff(device, *edition);
      EXPECT_TRUE(device.kernel().ShellStarts().empty());
      EXPECT_EQ(device.kernel().GetFile(kClip), Bytes("http://host/clip")) << "no repair without a player";
      EXPECT_EQ(device.registry().KeyExists(HKEY_CURRENT_USER, edition->deviceControl.settingsKey), c.key);
      EXPECT_EQ(device.OpenHandles(), 0u);
    }
  }
}

// Passes every registry, process and file call on and notes it, named with
// the root key it works under; repeats in a row are noted once.
class Recorder : public IRegistry, public IProcesses, public IFiles {
 public:
  explicit Recorder(Platform& inner) : inner_(inner) {}
  Platform Wrap() { return {*this, inner_.windows, *this, inner_.dialUp, *this, inner_.codePage, inner_.power}; }
  std::vector<std::string> events;

  LONG RegOpenKeyExW(HKEY key, std::u16string_view sub, REGSAM access, HKEY* result) override {
    return Opened(key, Reg(key, "open " + Utf8(sub)).RegOpenKeyExW(key, sub, access, result), result);
  }
  LONG RegCreateKeyExW(HKEY key, std::u16string_view sub, REGSAM access, HKEY* result, DWORD* how) override {
    return Opened(key, Reg(key, "create " + Utf8(sub)).RegCreateKeyExW(key, sub, access, result, how), result);
  }
  LONG RegQueryValueExW(HKEY key, std::u16string_view name, DWORD* type, std::span<BYTE> data, DWORD* size) override {
    return Reg(key, "query " + Utf8(name)).RegQueryValueExW(key, name, type, data, size);
  }
  LONG RegSetValueExW(HKEY key, std::u16string_view name, DWORD type, std::span<const BYTE> data) override {
    return Reg(key, "set").RegSetValueExW(key, name, type, data);
  }
  LONG RegEnumKeyExW(HKEY key, DWORD i, std::span<char16_t> name, DWORD* n) override {
    return Reg(key, "enum").RegEnumKeyExW(key, i, name, n);
  }
  LONG RegDeleteKeyW(HKEY key, std::u16string_view sub) override { return Reg(key, "delete").RegDeleteKeyW(key, sub); }
  LONG RegCloseKey(HKEY key) override { return Reg(key, "close").RegCloseKey(key); }

  HMODULE LoadLibraryW(std::u16string_view name) override { return Do("load").LoadLibraryW(name); }
  BOOL FreeLibrary(HMODULE module) override { return Do("free").FreeLibrary(module); }
  HANDLE CreateToolhelp32Snapshot(DWORD f, DWORD id) override { return Do("snap").CreateToolhelp32Snapshot(f, id); }
  BOOL Process32FirstW(HANDLE s, PROCESSENTRY32W* e) override { return Do("walk").Process32FirstW(s, e); }
  BOOL Process32NextW(HANDLE s, PROCESSENTRY32W* e) override { return Do("walk").Process32NextW(s, e); }
  BOOL CloseToolhelp32Snapshot(HANDLE s) override { return Do("unsnap").CloseToolhelp32Snapshot(s); }
  HANDLE OpenProcess(DWORD a, BOOL i, DWORD id) override { return Do("open process").OpenProcess(a, i, id); }
  BOOL TerminateProcess(HANDLE p, UINT code) override { return Do("terminate").TerminateProcess(p, code); }
  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) override {
    return Do("start " + Utf8(info->lpFile) + " with " + Utf8(info->lpParameters)).ShellExecuteExW(info);
  }
  void Sleep(DWORD ms) override { Do("sleep " + std::to_string(ms)).Sleep(ms); }
  DWORD GetLastError() override { return inner_.processes.GetLastError(); }
  std::u16string GetModuleFileNameW() override { return Do("module").GetModuleFileNameW(); }

  HANDLE CreateFileW(std::u16string_view path, DWORD a, DWORD s, DWORD d) override {
    return File("open file " + Utf8(path)).CreateFileW(path, a, s, d);
  }
  BOOL ReadFile(HANDLE f, std::span<BYTE> b, DWORD* n) override { return File("read").ReadFile(f, b, n); }
  BOOL WriteFile(HANDLE f, std::span<const BYTE> d, DWORD* n) override { return File("write").WriteFile(f, d, n); }
  DWORD SetFilePointer(HANDLE f, LONG d, DWORD m) override { return File("seek").SetFilePointer(f, d, m); }
  BOOL SetEndOfFile(HANDLE f) override { return File("truncate").SetEndOfFile(f); }
  // One CloseHandle serves files and processes, as in the kernel.
  BOOL CloseHandle(HANDLE h) override { return Do("close handle").CloseHandle(h); }

 private:
  void Note(std::string event) {
    if (events.empty() || events.back() != event) events.push_back(std::move(event));
  }
  std::string Root(HKEY key) const {
    if (key == HKEY_LOCAL_MACHINE) return "HKLM";
    if (key == HKEY_CURRENT_USER) return "HKCU";
    const auto it = roots_.find(key);
    return it == roots_.end() ? "?" : it->second;
  }
  IRegistry& Reg(HKEY key, const std::string& what) {
    Note(Root(key) + " " + what);
    return inner_.registry;
  }
  LONG Opened(HKEY parent, LONG result, HKEY* key) {
    if (result == ERROR_SUCCESS) roots_[*key] = Root(parent);
    return result;
  }
  IProcesses& Do(std::string event) {
    Note(std::move(event));
    return inner_.processes;
  }
  IFiles& File(std::string event) {
    Note(std::move(event));
    return inner_.files;
  }

  Platform& inner_;
  std::map<HKEY, std::string> roots_;
};

class LauncherRunning : public ::testing::Test {
 protected:
  void SetUp() override { GatewayOn(device); }
  void TearDown() override { EXPECT_EQ(device.OpenHandles(), 0u) << "a handle was left open"; }
  sim::Kernel& kernel() { return device.kernel(); }

  sim::SimDevice device;
};

TEST_F(LauncherRunning, ProxiesFirstThenPauseThenCommandThenRepairThenPlayer) {
  for (const LauncherEdition* edition : kEditions) {
    SCOPED_TRACE(Utf8(edition->name));
    SaveCommand(device, *edition, kWmplayerCommand);
    kernel().PutFile(kClip, Bytes("http://host/clip"));
    Recorder recorder(device.platform());
    Platform recorded = recorder.Wrap();
    RunStrevel(recorded, *edition, kClip);

    const auto& events = recorder.events;
    const auto pause = std::find(events.begin(), events.end(), "sleep 0");
    ASSERT_NE(pause, events.end());
    ASSERT_NE(pause, events.begin());
    EXPECT_EQ(events.front(), "HKLM open " + Utf8(kProviderKey));
    for (auto it = events.begin(); it != pause; ++it) EXPECT_EQ(it->rfind("HKLM ", 0), 0u) << *it;
    EXPECT_EQ(std::vector<std::string>(pause + 1, events.end()),
              (std::vector<std::string>{"HKCU open " + Utf8(edition->deviceControl.settingsKey), "HKCU query wmp_path",
                                        "HKCU close", "open file \\My Documents\\clip.asx", "read", "seek", "write",
                                        // the playlist covers the link whole: no cut
                                        "close handle",
                                        "start \\Windows\\wmplayer.exe with \\My Documents\\clip.asx", "close handle"}));
    ExpectProxiesOff(device, *edition);
    EXPECT_EQ(kernel().GetFile(kClip), Wrapped("http://host/clip"));
  }
}

TEST_F(LauncherRunning, EachEditionStartsItsPlayerWithTheUnchangedCommandLine) {
  const std::u16string longestProgram = u"\\" + std::u16string(119, u'p') + u".exe";
  const std::u16string longest2002 = u"\"" + longestProgram + u"\" %1";
  ASSERT_EQ(longest2002.size(), 129u);
  struct Case {
    const LauncherEdition* edition;
    std::u16string wmpPath;
    std::u16string_view player;
  };
  const Case cases[] = {
      {&kStrevel2002, std::u16string(kWmplayerCommand), kWmplayer},
      {&kStrevel2002, std::u16string(kPlayer8Command), kPlayer8},
      {&kStrevel2002, longest2002, longestProgram},
      {&kStrevel2003, std::u16string(kPlayer8Command), kWmplayer},
      {&kStrevel2003, std::u16string(129, u'x'), kWmplayer},
  };
  // Neither a link nor a quoted link is a file to repair.
  const std::u16string_view lines[] = {u"mms://host/live", u"\"mms://host/live\""};
  for (const Case& c : cases) {
    for (std::u16string_view line : lines) {
      SCOPED_TRACE(Utf8(c.edition->name) + ": " + Utf8(c.wmpPath) + " / " + Utf8(line));
      SaveCommand(device, *c.edition, c.wmpPath);
      kernel().PutFile(kClip, Bytes("http://host/clip"));
      const std::size_t starts = kernel().ShellStarts().size();
      const std::size_t opens = device.ledger().Count(sim::Call::CreateFileW);
      Launch(device, *c.edition, line);
      ASSERT_EQ(kernel().ShellStarts().size(), starts + 1);
      EXPECT_EQ(kernel().ShellStarts().back(), std::u16string(c.player) + u" " + std::u16string(line));
      const sim::ShellStart& start = kernel().ShellRequests().back();
      EXPECT_EQ(start.verb, u"open");
      EXPECT_EQ(start.directory, u"");
      EXPECT_EQ(start.show, SW_SHOWNORMAL);
      EXPECT_EQ(start.mask, SEE_MASK_NOCLOSEPROCESS);
      EXPECT_EQ(start.owner, nullptr);
      EXPECT_EQ(device.ledger().Count(sim::Call::CreateFileW), opens);
      EXPECT_EQ(kernel().GetFile(kClip), Bytes("http://host/clip"));
      ExpectProxiesOff(device, *c.edition);
    }
  }
}

TEST_F(LauncherRunning, PlaylistsAreRepairedBeforeThePlayerGetsThem) {
  constexpr std::u16string_view kUpper = u"\\My Documents\\CLIP.ASX";
  SaveCommand(device, kStrevel2003, u"wmplayer.exe %1");
  const std::pair<std::string, bool> cases[] = {
      {"HTTP://HOST/CLIP", true}, {"Http://host/clip", false}, {"<asx version=\"3.0\"></asx>", false}};
  for (const auto& [content, wrapped] : cases) {
    SCOPED_TRACE(content);
    kernel().PutFile(kUpper, Bytes(content));
    Launch(device, kStrevel2003, kUpper);
    EXPECT_EQ(kernel().GetFile(kUpper), wrapped ? Wrapped(content) : Bytes(content));
    EXPECT_EQ(kernel().ShellStarts().back(), std::u16string(kWmplayer) + u" " + std::u16string(kUpper));
  }
}

// The shell's open commands quote "%1": a playlist the user taps arrives as
// one quoted path, is repaired all the same, and the player still gets the
// command line with its quotes.
TEST_F(LauncherRunning, AQuotedPlaylistPathIsRepairedAndPassedOnQuoted) {
  const std::u16string quoted = u"\"" + std::u16string(kClip) + u"\"";
  for (const LauncherEdition* edition : kEditions) {
    SCOPED_TRACE(Utf8(edition->name));
    SaveCommand(device, *edition, kWmplayerCommand);
    kernel().PutFile(kClip, Bytes("http://host/clip\r\n"));
    Launch(device, *edition, quoted);
    EXPECT_EQ(kernel().GetFile(kClip), Wrapped("http://host/clip\r\n"));
    EXPECT_EQ(kernel().ShellStarts().back(), std::u16string(kWmplayer) + u" " + quoted);
  }
}

TEST_F(LauncherRunning, ThePlayerComesToTheFrontAndTheBrowserLeavesIt) {
  for (const LauncherEdition* edition : kEditions) {
    SCOPED_TRACE(Utf8(edition->name));
    SaveCommand(device, *edition, kWmplayerCommand);
    const HWND browser = kernel().OpenWorldWindow(u"iexplore.exe", u"IExplore", u"Internet Explorer", {0, 26, 240, 294});
    kernel().BringToFront(browser);
    Launch(device, *edition, u"mms://host/live");
    const auto windows = kernel().TopLevelWindows();
    ASSERT_FALSE(windows.empty());
    EXPECT_EQ(windows.front().className, u"WMP");
    EXPECT_EQ(kernel().GetForegroundWindow(), windows.front().hwnd);
    EXPECT_NE(kernel().GetForegroundWindow(), browser);
    kernel().CloseWindow(windows.front().hwnd);
    kernel().CloseWindow(browser);
  }
}

}  // namespace
}  // namespace qx
