#include "tools/rcgen/rc_writer.h"

#include <cstdio>

#include "platform/observed/text.h"

namespace qx::rcgen {

namespace {

// Extended styles that only the handheld knows (the caption's OK button,
// no dragging); on the desktop these bits mean nothing or something else.
constexpr DWORD kHandheldOnlyExStyles = WS_EX_CAPTIONOKBTN | WS_EX_NODRAG;

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

std::string Dialog(const DialogTemplate& dialog) {
  std::string rc = std::to_string(dialog.id) + " DIALOGEX " + std::to_string(dialog.x) + ", " +
                   std::to_string(dialog.y) + ", " + std::to_string(dialog.cx) + ", " + std::to_string(dialog.cy) +
                   "\n";
  rc += "STYLE " + Hex(dialog.style) + "\n";
  rc += "EXSTYLE " + Hex(dialog.exStyle & ~kHandheldOnlyExStyles) + "\n";
  if (!dialog.caption.empty()) rc += "CAPTION " + Quote(dialog.caption) + "\n";
  // The handheld's dialogs are windows of class "Dialog"; the Windows
  // builds register a dialog class of that name.
  rc += "CLASS \"Dialog\"\n";
  if ((dialog.style & DS_SETFONT) != 0) {
    rc += "FONT " + std::to_string(dialog.pointSize) + ", " + Quote(dialog.font) + "\n";
  }
  rc += "BEGIN\n";
  for (const ControlTemplate& control : dialog.controls) {
    const std::string text = control.imageId != 0 ? std::to_string(control.imageId) : Quote(control.text);
    rc += "    CONTROL " + text + ", " + std::to_string(control.id) + ", " + Quote(control.className) + ", " +
          Hex(control.style) + ", " + std::to_string(control.x) + ", " + std::to_string(control.y) + ", " +
          std::to_string(control.cx) + ", " + std::to_string(control.cy);
    if ((control.exStyle & ~kHandheldOnlyExStyles) != 0) rc += ", " + Hex(control.exStyle & ~kHandheldOnlyExStyles);
    rc += "\n";
  }
  rc += "END\n\n";
  return rc;
}

void MenuItems(std::string& rc, std::span<const MenuItemTemplate> items, int depth) {
  const std::string indent(static_cast<std::size_t>(depth) * 4, ' ');
  rc += indent + "BEGIN\n";
  for (const MenuItemTemplate& item : items) {
    if (!item.popup.empty()) {
      rc += indent + "    POPUP " + Quote(item.text) + "\n";
      MenuItems(rc, item.popup, depth + 1);
    } else if (item.id == 0 && item.text.empty()) {
      rc += indent + "    MENUITEM SEPARATOR\n";
    } else {
      rc += indent + "    MENUITEM " + Quote(item.text) + ", " + std::to_string(item.id) + "\n";
    }
  }
  rc += indent + "END\n";
}

std::string PathLiteral(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '\\') {
      out += "/";  // windres takes forward slashes on every host
    } else if (c == '"') {
      out += "\"\"";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string Quote(std::u16string_view text) {
  std::string out = "\"";
  for (char c : observed::Utf8(text)) {
    switch (c) {
      case '"': out += "\"\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c; break;
    }
  }
  return out + "\"";
}

std::string ResourceScript(const ClientResources& resources) {
  std::string rc =
      "// Written by qxrcgen from client/resources.cpp; do not edit.\n"
      "#pragma code_page(65001)\n\n"
      "LANGUAGE 0, 0\n\n";  // neutral: found whatever the user's language
  for (const ResourceFile& icon : resources.icons) {
    rc += std::to_string(icon.id) + " ICON " + PathLiteral(icon.path) + "\n";
  }
  for (const ResourceFile& bitmap : resources.bitmaps) {
    rc += std::to_string(bitmap.id) + " BITMAP " + PathLiteral(bitmap.path) + "\n";
  }
  rc += "\n";
  for (const DialogTemplate* dialog : resources.dialogs) rc += Dialog(*dialog);
  for (const MenuTemplate* menu : resources.menus) {
    rc += std::to_string(menu->id) + " MENU\n";
    MenuItems(rc, menu->items, 0);
    rc += "\n";
  }
  return rc;
}

}  // namespace qx::rcgen
