#include "platform/sim/effect_text.h"

#include <cstdio>

#include "platform/framework/framework.h"
#include "platform/sim/text.h"

namespace qx::sim {

std::string QuotedText(std::u16string_view text) { return "\"" + Utf8(text) + "\""; }

std::string ShowCommandName(int show) {
  switch (show) {
    case SW_HIDE: return "SW_HIDE";
    case SW_SHOWNORMAL: return "SW_SHOWNORMAL";
    case SW_SHOW: return "SW_SHOW";
    case SW_MINIMIZE: return "SW_MINIMIZE";
    default: return "show command " + std::to_string(show);
  }
}

std::string StartText(std::u16string_view file, std::u16string_view parameters, std::u16string_view verb,
                      std::u16string_view directory, int show) {
  return "start " + QuotedText(file) + " with parameters " + QuotedText(parameters) + " (verb " + QuotedText(verb) +
         ", directory " + QuotedText(directory) + ", " + ShowCommandName(show) + ")";
}

std::string BoxText(std::u16string_view caption, std::u16string_view text, UINT type, bool owned) {
  std::string shown = Utf8(text);
  for (std::size_t at = 0; (at = shown.find("\r\n", at)) != std::string::npos;) shown.replace(at, 2, " / ");
  return "message box \"" + Utf8(caption) + "\": \"" + shown + "\" [" + BoxButtonNames(type) + "]" +
         (owned ? "" : " (no owner)");
}

std::string AnswerName(int answer) {
  switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "?";
  }
}

std::string MenuText(int x, int y, UINT flags, const std::vector<MenuItemInfo>& items) {
  std::string listing;
  for (const MenuItemInfo& entry : items) {
    if (!listing.empty()) listing += " | ";
    listing += entry.separator ? std::string("---") : (entry.checked ? "[x] " : "") + Utf8(entry.text);
  }
  char where[96];
  std::snprintf(where, sizeof where, "popup menu at (%d, %d)%s%s: ", x, y,
                (flags & TPM_RIGHTALIGN) != 0 ? ", right-aligned" : "",
                (flags & TPM_BOTTOMALIGN) != 0 ? ", bottom-aligned" : "");
  return where + listing;
}

std::string HangUpText(std::u16string_view name) { return "dial-up connection hung up: " + QuotedText(name); }

std::string EndText(bool killed, std::u16string_view image, DWORD processId, const UINT* exitCode) {
  std::string how = " (process " + std::to_string(processId);
  if (exitCode != nullptr) how += ", exit code " + std::to_string(static_cast<int>(*exitCode));
  return (killed ? "process terminated: " : "program ended: ") + QuotedText(image) + how + ")";
}

std::string TopLevelLabel(std::u16string_view title, std::u16string_view className, std::u16string_view image) {
  std::string label = "\"" + Utf8(title) + "\" (" + Utf8(className);
  if (!image.empty()) label += " of " + Utf8(ProgramBaseName(image)) + ".exe";
  return label + ")";
}

std::string WrittenText(std::size_t bytes, std::size_t offset, std::u16string_view path) {
  return "file written: " + std::to_string(bytes) + " bytes at offset " + std::to_string(offset) + " of " +
         QuotedText(path);
}

std::string CutText(std::size_t size, std::u16string_view path) {
  return "file cut to " + std::to_string(size) + " bytes: " + QuotedText(path);
}

std::string LeftOpenText(std::u16string_view image, std::string_view kind, std::string_view what, bool refused) {
  std::string line = "\"" + Utf8(image) + "\" left open: " + std::string(kind);
  if (!what.empty()) line += " " + std::string(what);
  if (refused) line += " (its close was refused)";
  return line;
}

}  // namespace qx::sim
