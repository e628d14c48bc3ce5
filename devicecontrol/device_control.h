// CDeviceControl: the device-control operations that the tray client and the
// media launcher share. They switch the Connection Manager's proxy entries
// between the gateway and the default proxy, restart the Connection Manager
// and the browser, and point the shell's streaming open commands at the
// launcher or the media player. The object keeps no state of its own: the
// state lives in the device registry and in the running processes.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace qx::endpoints {

// The hosts and ports built into every program. Change them here only.
inline constexpr std::u16string_view kGatewayProxyHost = u"gw.quorvix.net";
inline constexpr std::u16string_view kDefaultProxyHost = u"wap.mobilenet.co.kr";
inline constexpr std::u16string_view kServiceWebHost = u"m.quorvix.net";
inline constexpr std::u16string_view kNaverHost = u"www.naver.com";
inline constexpr std::u16string_view kYahooHost = u"kr.yahoo.com";
inline constexpr std::u16string_view kEmpasHost = u"www.empas.com";
inline constexpr WORD kGatewayHttpPort = 8000;
inline constexpr WORD kGatewaySocksPort = 8888;

}  // namespace qx::endpoints

namespace qx {

// What differs between the programs that carry CDeviceControl. Each program
// names one of the constants below at its entry point.
inline constexpr std::u16string_view kPocketPc2002UserAgentKey =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent";
inline constexpr std::u16string_view kMobile2003UserAgentKey =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\5.0\\User Agent";

struct DeviceControlBuild {
  WORD defaultProxyPort;                    // port of DefaultProxy()
  std::u16string_view settingsKey;          // edition settings key, under HKEY_CURRENT_USER
  std::u16string_view defaultPlayerCommand; // open command when "wmp_path" gives none
  std::size_t keyNameRecordChars;           // record size of CKeyNameList, terminator included
  // The browser's User Agent key (HKEY_LOCAL_MACHINE) of the edition's
  // device: Windows Mobile 2003's browser keeps it under "5.0".
  std::u16string_view userAgentKey = kPocketPc2002UserAgentKey;
};

inline constexpr DeviceControlBuild kClient2002Build{
    1850, u"Software\\Brennic Inc\\Quorvix2002",
    u"\"\\Program Files\\Windows Media Player 8\\player.exe\" \"%1\"", 512};
inline constexpr DeviceControlBuild kLauncher2002Build{
    1850, u"Software\\Brennic Inc\\Quorvix2002",
    u"\"\\Program Files\\Windows Media Player 8\\player.exe\" \"%1\"", 1024};
inline constexpr DeviceControlBuild kLauncher2003Build{1159, u"Software\\Brennic Inc\\Quorvix2003",
                                                       u"wmplayer.exe %1", 1024};
inline constexpr DeviceControlBuild kClient2003Build{1159, u"Software\\Brennic Inc\\Quorvix2003",
                                                     u"wmplayer.exe %1", 512, kMobile2003UserAgentKey};

// The Connection Manager's proxy configuration provider, under
// HKEY_LOCAL_MACHINE. Each sub-key is one proxy entry.
inline constexpr std::u16string_view kProviderKey =
    u"SOFTWARE\\Microsoft\\ConnMgr\\Providers\\{EF097F4C-DC4B-4c98-8FF6-AEF805DC0E8E}";

// The shell's open commands for streaming media, under HKEY_CLASSES_ROOT, in
// the order they are always rewritten: a walk that stops early has changed
// exactly the keys before the one it stopped at.
inline constexpr std::array<std::u16string_view, 7> kStreamingOpenCommandKeys = {
    u"MMS\\Shell\\Open\\Command",     u"MMST\\Shell\\Open\\Command",    u"MMSU\\Shell\\Open\\Command",
    u"ASXFile\\Shell\\Open\\Command", u"ASFFile\\Shell\\Open\\Command", u"WAXFile\\Shell\\Open\\Command",
    u"WVXFile\\Shell\\Open\\Command",
};

// Open commands are stored as fixed 260-byte strings, so they hold at most
// 129 characters; every reader uses the same width.
inline constexpr DWORD kOpenCommandBytes = 260;
inline constexpr std::size_t kMaxOpenCommandChars = FixedStringCapacity(kOpenCommandBytes);

// Proxy texts and key names pass through 512-character buffers.
inline constexpr std::size_t kMaxProxyChars = 511;
inline constexpr std::size_t kKeyNameBufferChars = 512;

// Bytes read for the network identifiers of an entry and for its "Proxy"
// when checking whether the gateway is active.
inline constexpr std::size_t kNetworkIdReadBytes = 1024;
inline constexpr std::size_t kProxyCheckReadBytes = 256;

// Reads a REG_SZ value the way a reader with a buffer of maxBytes bytes can
// use it: the text must fit together with its terminator, so it holds at
// most maxBytes / 2 - 1 characters. A longer value, including one that fills
// the buffer exactly and so arrives without a terminator, fails with
// ERROR_MORE_DATA; on any failure *text is left as it was.
inline LONG ReadBoundedString(RegKey& key, std::u16string_view name, std::size_t maxBytes, std::u16string* text) {
  std::u16string value;
  const LONG result = key.ReadString(name, maxBytes, &value);
  if (result != ERROR_SUCCESS) return result;
  if (value.size() > FixedStringCapacity(static_cast<DWORD>(maxBytes))) return ERROR_MORE_DATA;
  *text = std::move(value);
  return ERROR_SUCCESS;
}

// Sub-key names in enumeration order. Every record holds recordChars
// characters, its terminator included; a name that does not fit is refused
// rather than cut, since a cut name would address another key.
class CKeyNameList {
 public:
  explicit CKeyNameList(std::size_t recordChars) : recordChars_(recordChars) {}

  void Clear() { names_.clear(); }
  // False (and nothing added) when the name does not fit a record.
  bool Add(std::u16string_view name);
  [[nodiscard]] std::size_t size() const { return names_.size(); }
  [[nodiscard]] bool empty() const { return names_.empty(); }
  [[nodiscard]] std::size_t RecordChars() const { return recordChars_; }
  const std::u16string& operator[](std::size_t index) const { return names_[index]; }
  [[nodiscard]] auto begin() const { return names_.begin(); }
  [[nodiscard]] auto end() const { return names_.end(); }

 private:
  std::size_t recordChars_;
  std::vector<std::u16string> names_;
};

// An HTTP proxy entry is a provider sub-key with "HTTP" (this case) anywhere
// in its name.
constexpr bool IsHttpEntryName(std::u16string_view name) { return name.find(u"HTTP") != std::u16string_view::npos; }

// The name of an HTTP entry's SOCKS twin: "SOCKS" and the entry's name from
// its fifth character on ("HTTP-x" -> "SOCKS-x"). Every HTTP entry name is at
// least four characters long; a shorter name has nothing after its fourth
// character, so its twin is plain "SOCKS".
std::u16string SocksTwinName(std::u16string_view httpEntryName);

// The file name of a process image: the part after the last backslash, and
// only up to the first zero (process records carry fixed arrays).
constexpr std::u16string_view ImageFileName(std::u16string_view exeFile) {
  exeFile = exeFile.substr(0, exeFile.find(u'\0'));
  const std::size_t slash = exeFile.rfind(u'\\');
  return slash == std::u16string_view::npos ? exeFile : exeFile.substr(slash + 1);
}

// Starts a program the way the shell opens a file, with no owner window and
// shown normally. The process handle the shell hands back is closed at once:
// nothing here waits for the program, and a tray program runs for weeks.
// Returns the shell's result.
inline BOOL StartProgram(IProcesses& processes, std::u16string_view file, std::u16string_view parameters) {
  SHELLEXECUTEINFOW info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = nullptr;
  info.lpVerb = u"open";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  const BOOL started = processes.ShellExecuteExW(&info);
  if (info.hProcess != nullptr && info.hProcess != INVALID_HANDLE_VALUE) processes.CloseHandle(info.hProcess);
  return started;
}

// Terminates (exit code -1) the running processes whose image file name is
// exactly imageName, all of them or only the first one in the process list.
// Every handle opened on the way is closed again. FALSE when the process
// list cannot be taken; matches that cannot be opened or terminated are
// passed over. *terminated (optional) receives the number terminated.
inline BOOL TerminateProcessesByImage(IProcesses& processes, std::u16string_view imageName, bool firstOnly,
                                      std::size_t* terminated = nullptr) {
  if (terminated != nullptr) *terminated = 0;
  const HANDLE snapshot = processes.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == nullptr || snapshot == INVALID_HANDLE_VALUE) return FALSE;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(PROCESSENTRY32W);
  for (BOOL more = processes.Process32FirstW(snapshot, &entry); more;
       more = processes.Process32NextW(snapshot, &entry)) {
    if (ImageFileName(std::u16string_view(entry.szExeFile.data(), entry.szExeFile.size())) != imageName) continue;
    const HANDLE process = processes.OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (process != nullptr && process != INVALID_HANDLE_VALUE) {
      if (processes.TerminateProcess(process, static_cast<UINT>(-1)) && terminated != nullptr) ++*terminated;
      processes.CloseHandle(process);
    }
    if (firstOnly) break;
  }
  processes.CloseToolhelp32Snapshot(snapshot);
  return TRUE;
}

class CDeviceControl {
 public:
  CDeviceControl(Platform& platform, const DeviceControlBuild& build);
  virtual ~CDeviceControl();
  CDeviceControl(const CDeviceControl&) = delete;
  CDeviceControl& operator=(const CDeviceControl&) = delete;

  // ---- Connection Manager proxy entries (HKEY_LOCAL_MACHINE)

  // Switches every HTTP entry of the provider key, and its SOCKS twin, on
  // (the given proxies) or off (DefaultProxy(), twins removed). With enable
  // FALSE the proxy texts are ignored. FALSE, with nothing changed, only when
  // switching on with a proxy text longer than kMaxProxyChars.
  BOOL ConfigureProxies(BOOL enable, std::u16string_view httpProxy, std::u16string_view socksProxy);
  // Writes one HTTP entry (full path below HKEY_LOCAL_MACHINE) and its twin.
  BOOL SetProxyEntry(BOOL enable, std::u16string_view httpKeyPath, std::u16string_view httpProxy,
                     std::u16string_view socksKeyPath, std::u16string_view socksProxy);
  // The entry's "DestId" and "SrcId"; each is empty when missing, unreadable
  // or longer than kNetworkIdReadBytes allows. Either pointer may be null.
  BOOL ReadNetworkIds(std::u16string_view httpKeyPath, std::u16string* destId, std::u16string* srcId);
  // Lists the sub-keys of root\path. FALSE with an empty list when the key
  // does not open; FALSE with the names read so far when the enumeration
  // fails part-way.
  BOOL EnumSubkeyNames(HKEY root, std::u16string_view path, CKeyNameList& names);
  // TRUE unless a readable HTTP entry holds a "Proxy" other than
  // GatewayHttpProxy().
  BOOL IsGatewayProxyActive();

  // ---- Processes and the browser

  // Terminates every connmgr.exe and starts it again. FALSE when the toolhelp
  // library is missing (after telling the user) or the process list cannot
  // be taken; nothing is then terminated or started.
  BOOL RestartConnectionManager();
  // Destroys the browser's main window, if there is one.
  void CloseBrowser();
  // Starts the browser on url (empty: its own start page).
  BOOL OpenInBrowser(std::u16string_view url);

  // ---- Streaming open commands (HKEY_CLASSES_ROOT)

  // Points the seven streaming open commands at the launcher (TRUE) or the
  // saved player command (FALSE). FALSE when the settings key or a command
  // key does not open, or when there is no usable launcher command.
  BOOL SetMediaHandler(BOOL useLauncher);

  // ---- The build's texts

  std::u16string GatewayHttpProxy() const;
  std::u16string GatewaySocksProxy() const;
  std::u16string DefaultProxy() const;
  // The launcher's open command for an install directory (no trailing
  // backslash): "<dir>\stv.exe" "%1" with the quotes.
  static std::u16string LauncherCommand(std::u16string_view installDir);
  [[nodiscard]] const DeviceControlBuild& Build() const { return build_; }

 private:
  Platform& platform_;
  DeviceControlBuild build_;
};

}  // namespace qx
