// The scenario runner's inside, shared by its files: the helpers every verb
// uses, and the verb table, whose groups live in verbs_*.cpp by what they
// act on (registry, programs, screen, device, expectations). Not for use
// outside tools/qxsim.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/launcher.h"
#include "tools/qxsim/scenario.h"

namespace qx::qxsim {

inline constexpr DWORD kTickMs = 200;
inline constexpr std::u16string_view kInstallerPath = u"\\Windows\\installer.exe";
inline constexpr std::u16string_view kLauncherPath = u"\\Program Files\\Quorvix\\stv.exe";

// Words and numbers as a scenario writes them.
std::string Lower(std::string text);
// A decimal or 0x-prefixed hexadecimal number, with an optional minus sign.
std::optional<long long> Number(std::string_view text);
// File contents as a scenario writes them, from the line's word `first`
// on, joined with nothing between: a quoted word is its text as it stands
// (backslashes included, so paths need no doubling); the bare words CR,
// LF, TAB, NUL and 0xHH are those bytes; any other bare word is its text.
std::string DeviceBytes(const Line& line, std::size_t first);
// A host file's bytes; *ok is false when it cannot be read.
std::string ReadFile(const std::filesystem::path& path, bool* ok);

// Puts a launcher edition on the device at `path`.
void InstallLauncher(sim::Kernel& kernel, std::u16string_view path, const LauncherEdition& edition);
// A string value's text up to its terminator; empty when it is missing or
// not a string.
std::u16string StringValue(sim::SimRegistry& registry, HKEY root, std::u16string_view path, std::u16string_view name);

// The verbs, and the helpers they share. A friend of Runner: verbs act on
// the runner's device and write to its transcript.
struct VerbTable {
  static std::vector<Runner::Verb> Make();

  static void AddRegistryVerbs(std::vector<Runner::Verb>& verbs);
  static void AddProgramVerbs(std::vector<Runner::Verb>& verbs);
  static void AddScreenVerbs(std::vector<Runner::Verb>& verbs);
  static void AddDeviceVerbs(std::vector<Runner::Verb>& verbs);
  static void AddExpectVerbs(std::vector<Runner::Verb>& verbs);

  // Stops the scenario with the usage unless the line has min..max words.
  static void Need(Runner& r, const Line& line, std::size_t min, std::size_t max, const std::string& usage);
  // "N ticks", "Nms" or "Ns" in milliseconds.
  static DWORD Duration(Runner& r, const Line& line, const std::vector<std::string>& words);
  static int ButtonNamed(Runner& r, const Line& line, const std::string& name);
  // The same, for a name a runner has already checked.
  static int ButtonOf(const std::string& name);
  // A duration a runner has already checked, in milliseconds.
  static DWORD DurationOf(const Line& line);
  // A device file as "file show" prints it: its name and size, then its
  // bytes with CR, LF, backslashes and other bytes escaped.
  static std::string ShowFile(const std::string& path, const std::vector<BYTE>& bytes);
  static void ShellOpen(Runner& r, const Line& line, const std::u16string& target);
  static void RunInstaller(Runner& r, std::function<void(Platform&)> hooks);
  // The dialog or message box in front, if any.
  static std::optional<sim::WindowInfo> OpenDialog(Runner& r);
  // The dialog in front whose controls a step acts on; stops the step when
  // there is none or a message box covers it.
  static HWND FrontDialog(Runner& r, const Line& line);
  static HWND ControlNamed(Runner& r, const Line& line, const std::string& name);
  // A point of a shown top-level window that no window in front of it
  // covers (its centre when that is free); none when it is hidden or wholly
  // covered.
  static std::optional<POINT> UncoveredPoint(sim::Kernel& kernel, HWND target);
  // What a control is to the user: "button", "check box", "label", "list"...
  static std::string ControlKind(const sim::WindowInfo& control);
  // One control as the `dialog` verb lists it: id, kind, text, state.
  static std::string DescribeControl(const sim::WindowInfo& control);
  static void Expect(Runner& r, const Line& line);
  // A value's name as a check writes it: @ or "" for the default value.
  static std::u16string ValueName(const Line& line, std::size_t index);
  // `expect order PART [then] PART...`: true when the last step's effects
  // contain each part in this order; *actual tells where it broke.
  static bool EffectsInOrder(Runner& r, const std::vector<std::string>& parts, std::string* actual);
};

}  // namespace qx::qxsim
