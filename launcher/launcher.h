// The media launcher: a windowless program that the shell starts for
// streaming links and playlists. One run switches the gateway's proxy
// entries off, turns a playlist file that holds only a bare link into a
// one-entry ASX playlist, starts the media player with the launcher's own
// command line and ends.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "devicecontrol/device_control.h"
#include "platform/framework/framework.h"
#include "platform/platform.h"

namespace qx {

// What differs between the launcher's editions. Each program names one of
// the constants below at its entry point.
struct LauncherEdition {
  std::u16string_view name;                   // also the application object's name
  const DeviceControlBuild& deviceControl;    // proxy port and settings key
  bool playerFromWmpPath;                     // player program taken from "wmp_path"
  std::u16string_view fixedPlayer;            // otherwise always this program
};

inline constexpr LauncherEdition kStrevel2002{u"Strevel 2002", kLauncher2002Build, true, {}};
inline constexpr LauncherEdition kStrevel2003{u"Strevel 2003", kLauncher2003Build, false,
                                              u"\\Windows\\wmplayer.exe"};

// The saved player command: a fixed 260-byte string under the settings key.
inline constexpr std::u16string_view kWmpPathValue = u"wmp_path";

// ---- Playlist repair

// The one-entry ASX playlist a bare link is wrapped in; bytes, written as
// they are (no terminator, no line end after the suffix).
inline constexpr std::string_view kAsxPrefix = "<asx version=\"3.0\">\r\n<entry>\r\n<ref href=\"";
inline constexpr std::string_view kAsxSuffix = "\"/>\r\n</entry>\r\n</asx>";
static_assert(kAsxPrefix.size() == 41 && kAsxSuffix.size() == 21);

// The file is read into a zero-filled buffer of this size, one byte short of
// it at most, so the content always ends in a zero.
inline constexpr std::size_t kPlaylistReadBufferBytes = 1024;
inline constexpr std::size_t kPlaylistMaxReadBytes = kPlaylistReadBufferBytes - 1;
// The composed playlist is built in a buffer of this size.
inline constexpr std::size_t kPlaylistWriteBufferBytes = 2048;
static_assert(kAsxPrefix.size() + kPlaylistMaxReadBytes + kAsxSuffix.size() <= kPlaylistWriteBufferBytes,
              "the longest content must fit the composed playlist");

// What WrapBareLink did. Only Wrapped and WriteFailed can have changed the
// file.
enum class FixUpResult {
  NotOpened,        // no such file (a link, say) or not openable read-write: nothing touched
  ReadFailed,       // the content could not be read: nothing changed
  WrongSize,        // 4 bytes or less, or 1023 bytes or more: nothing changed
  AlreadyPlaylist,  // begins with "<asx" or "<ASX": nothing changed
  NotALink,         // begins with neither "http" nor "HTTP": nothing changed
  Wrapped,          // the file now holds exactly the composed playlist
  WriteFailed,      // rewriting failed; the original bytes were put back as far as the device allowed
};

// The file a command line names: the text inside the quotes when the whole
// line is one string in double quotes (the shell's open commands quote
// "%1"), otherwise the line as it is.
std::u16string_view TargetOfCommandLine(std::u16string_view commandLine);

// True when a target names an ASX playlist: longer than 4 characters and
// ending in "asx" in any case.
bool NeedsPlaylistFixUp(std::u16string_view target);

// Rewrites the file at path in place into a one-entry playlist when it holds
// nothing but a bare http link. Every handle opened here is closed again.
FixUpResult WrapBareLink(IFiles& files, std::u16string_view path);

// ---- Player

// The program to start for this edition and saved player command; nothing
// when there is none to start (an empty command, or one that yields an empty
// program).
std::optional<std::u16string> PlayerProgram(const LauncherEdition& edition, std::u16string_view wmpPath);

// ---- Program

// The application object: InitInstance does the launcher's one pass and ends
// the program. The command line is the link or playlist the shell opened.
class CStrevelApp : public CWinApp {
 public:
  CStrevelApp(Platform& platform, const LauncherEdition& edition, std::u16string_view commandLine);

  BOOL InitInstance() override;

  [[nodiscard]] CDeviceControl& DeviceControl() { return m_deviceControl; }
  [[nodiscard]] const std::u16string& CommandLine() const { return m_strCommandLine; }

 private:
  LauncherEdition m_edition;
  std::u16string m_strCommandLine;
  CDeviceControl m_deviceControl;
};

// Runs one launcher pass of the given edition; the program's exit code,
// which means nothing.
int RunStrevel(Platform& platform, const LauncherEdition& edition, std::u16string_view commandLine);

}  // namespace qx
