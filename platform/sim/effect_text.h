// The words of the effects that programs cause, in one place: the
// simulated device writes its effects with them, and the scenario runner
// words the records of programs observed on Win32 with them, so that the
// same effect reads the same on either world.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/kernel.h"

namespace qx::sim {

// "\"text\"" (UTF-8, no escapes).
std::string QuotedText(std::u16string_view text);
std::string ShowCommandName(int show);
std::string StartText(std::u16string_view file, std::u16string_view parameters, std::u16string_view verb,
                      std::u16string_view directory, int show);
// "message box \"Caption\": \"Text\" [OK, Cancel]", CR LF in the text shown as " / ".
std::string BoxText(std::u16string_view caption, std::u16string_view text, UINT type, bool owned);
std::string AnswerName(int answer);
std::string MenuText(int x, int y, UINT flags, const std::vector<MenuItemInfo>& items);
std::string HangUpText(std::u16string_view name);
// "process terminated: \"image\" (process N, exit code C)" / "program ended: \"image\" (process N)".
std::string EndText(bool killed, std::u16string_view image, DWORD processId, const UINT* exitCode);
// A top-level window: "\"Title\" (Class of base.exe)"; no "of" part without an image.
std::string TopLevelLabel(std::u16string_view title, std::u16string_view className, std::u16string_view image);
std::string LeftOpenText(std::u16string_view image, std::string_view kind, std::string_view what, bool refused);
std::string WrittenText(std::size_t bytes, std::size_t offset, std::u16string_view path);
std::string CutText(std::size_t size, std::u16string_view path);
inline constexpr std::string_view kSoftResetText =
    "the device soft-resets: every program ends, the registry and files stay";
inline constexpr std::string_view kMenuEndedText = "menu closed by its program: nothing chosen";

}  // namespace qx::sim
