#include "tools/qxsim/screen.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "platform/sim/text.h"
#include "tools/rcgen/artwork.h"

namespace qx::qxsim {

namespace {

// The shell's bars: the title bar at the top, a program's menu bar under
// its work area.
constexpr int kBarHeight = 26;
constexpr int kLineHeight = 13;
constexpr int kMenuEntryHeight = 18;
constexpr int kMenuSeparatorHeight = 7;

constexpr std::string_view kFace = "#d4d0c8";
constexpr std::string_view kShadow = "#808080";
constexpr std::string_view kNavy = "#10306e";

std::string Colour(COLORREF color) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<unsigned>(color & 0xFF),
                static_cast<unsigned>((color >> 8) & 0xFF), static_cast<unsigned>((color >> 16) & 0xFF));
  return text;
}

std::string Base64(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t chunk = (static_cast<std::uint32_t>(bytes[i]) << 16) |
                                (i + 1 < bytes.size() ? static_cast<std::uint32_t>(bytes[i + 1]) << 8 : 0) |
                                (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    out.push_back(kDigits[(chunk >> 18) & 63]);
    out.push_back(kDigits[(chunk >> 12) & 63]);
    out.push_back(i + 1 < bytes.size() ? kDigits[(chunk >> 6) & 63] : '=');
    out.push_back(i + 2 < bytes.size() ? kDigits[chunk & 63] : '=');
  }
  return out;
}

// About how wide the text is at the picture's 11-pixel size: Hangul and
// other wide characters take a full em, Latin about half of one.
int TextWidth(std::u16string_view text) {
  int tenths = 0;
  for (char16_t c : text) tenths += c >= 0x1100 ? 110 : (c >= u'A' && c <= u'Z') || c == u'm' || c == u'w' ? 70 : 55;
  return (tenths + 9) / 10;
}

// Breaks text into lines no wider than `width`, at blanks where it can.
std::vector<std::u16string> Wrap(std::u16string_view text, int width) {
  std::vector<std::u16string> lines;
  std::u16string line;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find_first_of(u" \n", start), text.size());
    const std::u16string word(text.substr(start, end - start));
    const std::u16string joined = line.empty() ? word : line + u" " + word;
    if (!line.empty() && TextWidth(joined) > width) {
      lines.push_back(line);
      line = word;
    } else {
      line = joined;
    }
    if (end < text.size() && text[end] == u'\n') {
      lines.push_back(line);
      line.clear();
    }
    start = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

class Picture {
 public:
  void Rect(const RECT& r, std::string_view fill, std::string_view stroke = "none", int strokeWidth = 1) {
    // Strokes sit on pixel centres so a 1-pixel frame stays sharp.
    const double inset = stroke == "none" ? 0.0 : strokeWidth / 2.0;
    char text[200];
    std::snprintf(text, sizeof text, "<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"%.*s\"",
                  r.left + inset, r.top + inset, std::max(0.0, r.right - r.left - 2 * inset),
                  std::max(0.0, r.bottom - r.top - 2 * inset), static_cast<int>(fill.size()), fill.data());
    out_ += text;
    if (stroke != "none") {
      out_ += " stroke=\"" + std::string(stroke) + "\"";
      if (strokeWidth != 1) out_ += " stroke-width=\"" + std::to_string(strokeWidth) + "\"";
    }
    out_ += "/>";
  }

  void Line(int x1, int y1, int x2, int y2, std::string_view colour) {
    char text[160];
    std::snprintf(text, sizeof text, "<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"%.*s\"/>", x1 + 0.5,
                  y1 + 0.5, x2 + 0.5, y2 + 0.5, static_cast<int>(colour.size()), colour.data());
    out_ += text;
  }

  // `y` is the baseline; anchor "start", "middle" or "end".
  void Text(int x, int y, std::u16string_view text, std::string_view colour = "#000000",
            std::string_view anchor = "start", bool bold = false, std::string_view cls = {}) {
    out_ += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" fill=\"" + std::string(colour) + "\"";
    if (anchor != "start") out_ += " text-anchor=\"" + std::string(anchor) + "\"";
    if (bold) out_ += " font-weight=\"bold\"";
    if (!cls.empty()) out_ += " class=\"" + std::string(cls) + "\"";
    out_ += ">" + EscapeMarkup(sim::Utf8(text)) + "</text>";
  }

  // Resource artwork exactly as the Windows build's files hold it.
  void Image(int x, int y, int width, int height, std::string_view mime, const std::vector<std::uint8_t>& file) {
    if (file.empty()) return;
    out_ += "<image x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
            std::to_string(width) + "\" height=\"" + std::to_string(height) +
            "\" style=\"image-rendering:pixelated\" href=\"data:" + std::string(mime) + ";base64," + Base64(file) +
            "\"/>";
  }

  void Check(int left, int top) {
    out_ += "<path d=\"M" + std::to_string(left + 2) + " " + std::to_string(top + 5) + " l3 3 l5 -6\" fill=\"none\" "
            "stroke=\"#000000\" stroke-width=\"2\"/>";
  }

  void Open(std::string_view cls, std::u16string_view title = {}) {
    out_ += "<g class=\"" + std::string(cls) + "\"";
    if (!title.empty()) out_ += " data-title=\"" + EscapeMarkup(sim::Utf8(title)) + "\"";
    out_ += ">";
  }
  void Close() { out_ += "</g>"; }

  [[nodiscard]] const std::string& text() const { return out_; }

 private:
  std::string out_;
};

int Baseline(const RECT& r) { return r.top + (r.bottom - r.top + 9) / 2; }

void DrawOwnerDrawn(Picture& picture, const sim::WindowInfo& control) {
  // What the control painted last, in its own client coordinates.
  for (const sim::DrawOp& op : control.lastPaint) {
    const RECT r{control.rect.left + op.rect.left, control.rect.top + op.rect.top, control.rect.left + op.rect.right,
                 control.rect.top + op.rect.bottom};
    switch (op.kind) {
      case sim::DrawOp::Kind::Fill: picture.Rect(r, Colour(op.color)); break;
      case sim::DrawOp::Kind::Border:
        picture.Line(r.left, r.top, r.right - 1, r.top, Colour(op.color));
        picture.Line(r.left, r.top, r.left, r.bottom - 1, Colour(op.color));
        picture.Line(r.left, r.bottom - 1, r.right - 1, r.bottom - 1, Colour(op.color2));
        picture.Line(r.right - 1, r.top, r.right - 1, r.bottom - 1, Colour(op.color2));
        break;
      case sim::DrawOp::Kind::Icon:
        picture.Image(r.left, r.top, r.right - r.left, r.bottom - r.top, "image/x-icon", rcgen::DrawIcon(op.iconId));
        break;
    }
  }
}

void DrawControl(Picture& picture, const sim::WindowInfo& control) {
  const RECT& r = control.rect;
  const DWORD style = static_cast<DWORD>(control.style);
  const std::string_view ink = control.enabled ? "#000000" : kShadow;
  if (control.className == kButtonClass) {
    switch (style & BS_TYPEMASK) {
      case BS_OWNERDRAW: DrawOwnerDrawn(picture, control); return;
      case BS_GROUPBOX:
        picture.Rect(r, "none", kShadow);
        if (!control.title.empty()) picture.Text(r.left + 6, r.top + 4, control.title, ink);
        return;
      case BS_AUTOCHECKBOX: {
        const int top = (r.top + r.bottom) / 2 - 6;
        picture.Rect({r.left, top, r.left + 12, top + 12}, "#ffffff", "#000000");
        if (control.checked) picture.Check(r.left, top);
        picture.Text(r.left + 16, Baseline(r), control.title, ink, "start", false, "check");
        return;
      }
      default:
        picture.Rect(r, "#ffffff", "#000000", (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON ? 2 : 1);
        picture.Text((r.left + r.right) / 2, Baseline(r), control.title, ink, "middle");
        return;
    }
  }
  if (control.className == kEditClass) {
    picture.Rect(r, "#ffffff", kShadow);
    const std::u16string shown =
        (style & ES_PASSWORD) != 0 ? std::u16string(control.title.size(), u'*') : control.title;
    picture.Text(r.left + 3, Baseline(r), shown, ink);
    return;
  }
  if (control.className == kComboBoxClass) {
    picture.Rect(r, "#ffffff", kShadow);
    const int arrow = r.right - (r.bottom - r.top);
    picture.Line(arrow, r.top, arrow, r.bottom - 1, kShadow);
    const int cx = (arrow + r.right) / 2;
    const int cy = (r.top + r.bottom) / 2;
    picture.Text(cx, cy + 3, u"\u25BE", ink, "middle");
    if (control.selection >= 0 && static_cast<std::size_t>(control.selection) < control.items.size()) {
      picture.Text(r.left + 3, Baseline(r), control.items[static_cast<std::size_t>(control.selection)], ink);
    }
    return;
  }
  if (control.className == kStaticClass) {
    switch (style & SS_TYPEMASK) {
      case SS_BITMAP: {
        // A bitmap shows at its own size, from the control's corner.
        const auto file = rcgen::DrawBitmap(control.imageId);
        if (file.size() > 26) {
          const auto dim = [&](std::size_t at) { return file[at] | (file[at + 1] << 8); };
          picture.Image(r.left, r.top, dim(18), dim(22), "image/bmp", file);
        }
        return;
      }
      case SS_ICON: picture.Image(r.left, r.top, 32, 32, "image/x-icon", rcgen::DrawIcon(control.imageId)); return;
      default: {
        const std::string_view anchor = (style & SS_TYPEMASK) == SS_CENTER ? "middle"
                                        : (style & SS_TYPEMASK) == SS_RIGHT ? "end"
                                                                             : "start";
        const int x = anchor == "middle" ? (r.left + r.right) / 2 : anchor == "end" ? r.right : r.left;
        int y = r.top + 10;
        // A one-line label, or one broken into lines by its author, keeps its
        // lines: the system clips rather than wraps them.
        const bool ownLines = r.bottom - r.top < 2 * kLineHeight || control.title.find(u'\n') != std::u16string::npos;
        const int width = ownLines ? 10000 : std::max<int>(r.right - r.left, 40);
        for (const std::u16string& line : Wrap(control.title, width)) {
          picture.Text(x, y, line, ink, anchor);
          y += kLineHeight;
        }
        return;
      }
    }
  }
  picture.Rect(r, "#ffffff", kShadow);
}

void DrawMessageBox(Picture& picture, const sim::WindowInfo& box, ScreenPlaces* places) {
  const RECT& r = box.rect;
  picture.Rect(r, "#ffffff", "#000000");
  picture.Rect({r.left + 1, r.top + 1, r.right - 1, r.top + 19}, kNavy);
  picture.Text(r.left + 6, r.top + 14, box.title, "#ffffff", "start", true);
  int y = r.top + 36;
  for (const std::u16string& line : Wrap(box.boxText, r.right - r.left - 16)) {
    picture.Text(r.left + 8, y, line, "#000000", "start", false, "box-text");
    y += kLineHeight + 2;
  }
  std::vector<std::u16string_view> buttons;
  switch (box.boxType & MB_TYPEMASK) {
    case MB_OKCANCEL: buttons = {u"OK", u"Cancel"}; break;
    case MB_YESNO: buttons = {u"Yes", u"No"}; break;
    default: buttons = {u"OK"}; break;
  }
  constexpr int kButtonWidth = 56;
  constexpr int kGap = 8;
  const int total = static_cast<int>(buttons.size()) * (kButtonWidth + kGap) - kGap;
  int x = (r.left + r.right - total) / 2;
  for (std::u16string_view label : buttons) {
    const RECT button{x, r.bottom - 28, x + kButtonWidth, r.bottom - 8};
    picture.Rect(button, "#ffffff", "#000000");
    picture.Text((button.left + button.right) / 2, Baseline(button), label, "#000000", "middle");
    if (places != nullptr) places->boxButtons.push_back({button, box.hwnd, std::u16string(label)});
    x += kButtonWidth + kGap;
  }
}

void DrawWindow(Picture& picture, const sim::Kernel& kernel, const sim::WindowInfo& window, ScreenPlaces* places) {
  const RECT& r = window.rect;
  picture.Open("window", window.title);
  if (window.messageBox) {
    DrawMessageBox(picture, window, places);
  } else if (window.className == u"DesktopExplorerWindow") {
    picture.Rect(r, "#dde7f5");
    picture.Text(r.left + 8, r.top + kBarHeight + 18, u"Today", kNavy, "start", true);
  } else if (window.className == u"IExplore") {
    picture.Rect(r, "#ffffff");
    for (int y = r.top + 14, n = 0; y + 6 < r.bottom && n < 12; y += 16, ++n) {
      picture.Rect({r.left + 8, y, r.right - (n % 3 == 2 ? 60 : 8), y + 5}, "#e4e4e4");
    }
    // The browser's menu bar lies under its work area, where the tray
    // button floats.
    if (r.bottom < kScreenHeight) {
      const RECT bar{r.left, r.bottom, r.right, std::min<LONG>(r.bottom + kBarHeight, kScreenHeight)};
      picture.Open("menu-bar");
      picture.Rect(bar, kFace);
      picture.Line(bar.left, bar.top, bar.right - 1, bar.top, kShadow);
      picture.Text(bar.left + 8, bar.top + 17, u"View");
      picture.Text(bar.left + 44, bar.top + 17, u"Tools");
      picture.Close();
    }
  } else if (window.className == kDialogClass) {
    if ((static_cast<DWORD>(window.style) & WS_CAPTION) == WS_CAPTION) {
      picture.Rect(r, "#ffffff");
      picture.Line(r.left, r.bottom - 1, r.right - 1, r.bottom - 1, kShadow);
    }
    for (const sim::WindowInfo& control : kernel.Children(window.hwnd)) {
      if (control.visible) DrawControl(picture, control);
    }
  } else {
    // Another program's window: its frame and title.
    picture.Rect(r, window.className == u"WMP" ? "#202020" : "#f4f4f4", kShadow);
    picture.Text((r.left + r.right) / 2, (r.top + r.bottom) / 2, window.title,
                 window.className == u"WMP" ? "#ffffff" : "#000000", "middle", true);
  }
  picture.Close();
}

void DrawTitleBar(Picture& picture, std::u16string_view title) {
  picture.Open("title-bar");
  picture.Rect({0, 0, kScreenWidth, kBarHeight}, kNavy);
  picture.Text(8, 17, u"Start", "#ffffff", "start", true);
  picture.Text(48, 17, title, "#ffffff");
  picture.Close();
}

void DrawMenu(Picture& picture, const sim::OpenMenuInfo& menu, ScreenPlaces* places) {
  int width = 0;
  int height = 2;
  for (const sim::MenuItemInfo& item : menu.items) {
    width = std::max(width, TextWidth(item.text));
    height += item.separator ? kMenuSeparatorHeight : kMenuEntryHeight;
  }
  width = std::min(width + 36, kScreenWidth);
  int left = (menu.flags & TPM_RIGHTALIGN) != 0 ? menu.at.x - width : menu.at.x;
  int top = (menu.flags & TPM_BOTTOMALIGN) != 0 ? menu.at.y - height : menu.at.y;
  // Like the system, keep the whole menu on the screen.
  left = std::clamp(left, 0, kScreenWidth - width);
  top = std::clamp(top, 0, std::max(0, kScreenHeight - height));
  picture.Open("popup-menu");
  picture.Rect({left, top, left + width, top + height}, "#ffffff", "#000000");
  int y = top + 1;
  for (std::size_t i = 0; i < menu.items.size(); ++i) {
    const sim::MenuItemInfo& item = menu.items[i];
    if (item.separator) {
      picture.Line(left + 2, y + kMenuSeparatorHeight / 2, left + width - 3, y + kMenuSeparatorHeight / 2, kShadow);
      y += kMenuSeparatorHeight;
      continue;
    }
    if (item.checked) picture.Check(left + 4, y + 3);
    picture.Text(left + 20, y + 13, item.text, "#000000", "start", false, "menu-entry");
    if (places != nullptr) places->menuEntries.push_back({{left, y, left + width, y + kMenuEntryHeight}, i});
    y += kMenuEntryHeight;
  }
  picture.Close();
}

}  // namespace

std::string EscapeMarkup(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string DrawScreen(const sim::Kernel& kernel, ScreenPlaces* places) {
  const std::vector<sim::WindowInfo> windows = kernel.TopLevelWindows();  // front first
  Picture picture;
  // The shell's title bar names the front window; the tray's own floating
  // window stays on top of everything and is not what the user works in.
  std::u16string title;
  for (const sim::WindowInfo& window : windows) {
    if (window.visible && !window.topmost) {
      title = window.title;
      break;
    }
  }
  bool barDrawn = false;
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if (!it->visible) continue;
    DrawWindow(picture, kernel, *it, places);
    // The bar is part of the desktop: windows of the work area leave it
    // showing, a full-screen window covers it.
    if (!barDrawn) {
      DrawTitleBar(picture, title);
      barDrawn = true;
    }
  }
  if (const auto menu = kernel.OpenMenuShown()) DrawMenu(picture, *menu, places);
  // Drawn back to front; told front first.
  if (places != nullptr) std::reverse(places->boxButtons.begin(), places->boxButtons.end());
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"240\" height=\"320\" viewBox=\"0 0 240 320\" "
         "font-family=\"NanumGothic, 'Nanum Gothic', sans-serif\" font-size=\"11\">" +
         picture.text() + "</svg>";
}

}  // namespace qx::qxsim
