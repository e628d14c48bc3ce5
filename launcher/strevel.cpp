// The launcher's one pass: proxy entries off, playlist repair, player start.
#include "launcher/launcher.h"

namespace qx {

namespace {

bool IsAsxLetter(char16_t c, char16_t lower) { return c == lower || c == lower - (u'a' - u'A'); }

// The program of a saved player command in the 2002 edition.
//
// The command is normally a quoted program path and the argument
// placeholder: "\Program Files\Windows Media Player 8\player.exe" "%1". The
// program is the quoted text up to and including its first ".exe" (matched
// with this case).
//
// Other shapes are read as a command line would be:
// - quoted, without ".exe" inside the quotes: the whole quoted text (up to
//   the closing quote, or to the end when there is none);
// - not quoted, with ".exe": from the start through the first ".exe", so an
//   unquoted path may hold blanks;
// - not quoted, without ".exe": the value up to its first blank.
// A command that yields an empty program ("" or one that begins with a
// blank) starts nothing: there is no program to hand the link to.
std::u16string ProgramOfCommand(std::u16string_view command) {
  constexpr std::u16string_view kExe = u".exe";
  if (!command.empty() && command.front() == u'"') {
    std::u16string_view quoted = command.substr(1);
    quoted = quoted.substr(0, quoted.find(u'"'));
    const std::size_t exe = quoted.find(kExe);
    return std::u16string(exe == std::u16string_view::npos ? quoted : quoted.substr(0, exe + kExe.size()));
  }
  const std::size_t exe = command.find(kExe);
  if (exe != std::u16string_view::npos) return std::u16string(command.substr(0, exe + kExe.size()));
  return std::u16string(command.substr(0, command.find(u' ')));
}

}  // namespace

std::u16string_view TargetOfCommandLine(std::u16string_view commandLine) {
  if (commandLine.size() < 2 || commandLine.front() != u'"' || commandLine.back() != u'"') return commandLine;
  const std::u16string_view inside = commandLine.substr(1, commandLine.size() - 2);
  // Two quoted strings ("a" "b") are not one quoted path.
  return inside.find(u'"') == std::u16string_view::npos ? inside : commandLine;
}

bool NeedsPlaylistFixUp(std::u16string_view target) {
  if (target.size() <= 4) return false;
  const std::u16string_view tail = target.substr(target.size() - 3);
  return IsAsxLetter(tail[0], u'a') && IsAsxLetter(tail[1], u's') && IsAsxLetter(tail[2], u'x');
}

std::optional<std::u16string> PlayerProgram(const LauncherEdition& edition, std::u16string_view wmpPath) {
  // Without a saved command the player is taken to be missing, in both
  // editions: the 2003 edition checks only that there is one.
  if (wmpPath.empty()) return std::nullopt;
  std::u16string program = edition.playerFromWmpPath ? ProgramOfCommand(wmpPath) : std::u16string(edition.fixedPlayer);
  if (program.empty()) return std::nullopt;
  return program;
}

CStrevelApp::CStrevelApp(Platform& platform, const LauncherEdition& edition, std::u16string_view commandLine)
    : CWinApp(platform, edition.name),
      m_edition(edition),
      m_strCommandLine(commandLine),
      m_deviceControl(platform, edition.deviceControl) {}

BOOL CStrevelApp::InitInstance() {
  Platform& device = platform();

  // First, whatever follows: the player must reach the stream directly, not
  // through the gateway. The entries stay off; the tray client switches
  // them on again when the browser is next in front.
  m_deviceControl.ConfigureProxies(FALSE, u"", u"");
  device.processes.Sleep(0);

  std::u16string wmpPath;
  {
    RegKey key(device.registry);
    if (key.Open(HKEY_CURRENT_USER, m_edition.deviceControl.settingsKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
      return FALSE;
    }
    // Read with the width every writer uses. A value that is missing, of
    // another type, or too long to fit the width with its terminator (more
    // than 129 characters) reads as empty.
    ReadBoundedString(key, kWmpPathValue, kOpenCommandBytes, &wmpPath);
  }
  const std::optional<std::u16string> player = PlayerProgram(m_edition, wmpPath);
  if (!player) return FALSE;

  // Tapping a playlist is the way the launcher meets one: the shell then
  // hands over the path in quotes, and the file to repair is inside them.
  const std::u16string_view target = TargetOfCommandLine(m_strCommandLine);
  if (NeedsPlaylistFixUp(target)) WrapBareLink(device.files, target);

  // The player gets the command line exactly as the launcher got it.
  StartProgram(device.processes, *player, m_strCommandLine);
  return FALSE;
}

int RunStrevel(Platform& platform, const LauncherEdition& edition, std::u16string_view commandLine) {
  CStrevelApp app(platform, edition, commandLine);
  app.InitInstance();
  return 0;
}

}  // namespace qx
