// Dialogs and their controls, the default window procedure, and drawing on
// the simulated device.
#include <algorithm>
#include <cstdio>

#include "platform/sim/kernel_internal.h"
#include "platform/sim/text.h"

namespace qx::sim {

namespace {

RECT DluRect(short x, short y, short cx, short cy) {
  // The handheld's "System" 8 font gives dialog base units of about 6 x 13
  // pixels: a horizontal unit is 1.5 pixels, a vertical one 1.625.
  const auto px = [](int v) { return static_cast<LONG>(v * 3 / 2); };
  const auto py = [](int v) { return static_cast<LONG>(v * 13 / 8); };
  return {px(x), py(y), px(x + cx), py(y + cy)};
}

std::string Hex(COLORREF color) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  return text;
}

bool IsOwnerDrawButton(const std::u16string& className, LONG style) {
  return EqualsNoCase(className, kButtonClass) && (static_cast<DWORD>(style) & BS_TYPEMASK) == BS_OWNERDRAW;
}

}  // namespace

// ---- Dialogs and controls -------------------------------------------------------------

HWND Kernel::CreateDialogIndirectW(const DialogTemplate& dialog, HWND parent, IWindowHandler* handler) {
  QX_ENTER(CreateDialogIndirectW, nullptr)
  const Program* self = Current();
  const DWORD processId = self != nullptr ? self->pid : 0;
  RECT rect = DluRect(dialog.x, dialog.y, dialog.cx, dialog.cy);
  if ((dialog.style & WS_CAPTION) == WS_CAPTION) {
    // Dialogs with a caption fill the work area on the handheld.
    rect = kWorkArea;
  }
  Window& window = CreateWindowObject(processId, kDialogClass, dialog.caption, rect, parent);
  window.dialog = true;
  window.templateId = dialog.id;
  window.style = static_cast<LONG>(dialog.style);
  window.exStyle = dialog.exStyle;
  window.handler = handler;
  window.commandBar = true;
  const HWND hwnd = window.hwnd;
  ledger_.handles().Opened(HandleKind::Window, HandleValue(hwnd), "\"" + Utf8(dialog.caption) + "\"");
  zOrder_.insert(std::find(zOrder_.begin(), zOrder_.end(), desktop_), hwnd);
  Raise(hwnd, (dialog.exStyle & WS_EX_TOPMOST) != 0);
  for (const ControlTemplate& control : dialog.controls) {
    // A drop-down list's template height includes its open list; closed, the
    // control is one line high.
    const bool dropDown = EqualsNoCase(control.className, kComboBoxClass);
    const short height = dropDown ? std::min<short>(control.cy, 13) : control.cy;
    Window& child = CreateWindowObject(processId, control.className, control.text,
                                       DluRect(control.x, control.y, control.cx, height), hwnd);
    child.child = true;
    child.id = control.id;
    child.style = static_cast<LONG>(control.style);
    child.exStyle = control.exStyle;
    child.imageId = control.imageId;
    child.visible = (control.style & WS_VISIBLE) != 0;
    child.enabled = (control.style & WS_DISABLED) == 0;
    for (std::u16string_view item : control.items) child.items.emplace_back(item);
    if (Window* owner = Find(hwnd)) owner->children.push_back(child.hwnd);
  }
  const LRESULT setFocus = CallWindow(hwnd, WM_INITDIALOG, 0, 0);
  Window* created = Find(hwnd);
  if (created == nullptr) return nullptr;
  if (setFocus != 0) {
    for (HWND child : created->children) {
      const Window* c = Find(child);
      if (c != nullptr && (c->style & WS_TABSTOP) != 0 && c->enabled && c->visible) {
        focus_ = child;
        break;
      }
    }
  }
  if ((dialog.style & WS_VISIBLE) != 0) {
    created->visible = true;
    created->needsPaint = true;
    Activate(hwnd);
  }
  return hwnd;
}

HWND Kernel::GetDlgItem(HWND dialog, int id) {
  QX_ENTER(GetDlgItem, nullptr)
  const Window* window = Find(dialog);
  if (window == nullptr) return nullptr;
  for (HWND child : window->children) {
    const Window* c = Find(child);
    if (c != nullptr && c->id == id) return child;
  }
  return nullptr;
}

int Kernel::GetDlgCtrlID(HWND hwnd) {
  QX_ENTER(GetDlgCtrlID, 0)
  const Window* window = Find(hwnd);
  return window == nullptr ? 0 : window->id;
}

HWND Kernel::GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  QX_ENTER(GetNextDlgTabItem, nullptr)
  const Window* window = Find(dialog);
  if (window == nullptr) return nullptr;
  std::vector<HWND> stops;
  for (HWND child : window->children) {
    const Window* c = Find(child);
    if (c != nullptr && (c->style & WS_TABSTOP) != 0 && c->visible && c->enabled) stops.push_back(child);
  }
  if (stops.empty()) return nullptr;
  auto it = std::find(stops.begin(), stops.end(), control);
  if (it == stops.end()) return previous ? stops.back() : stops.front();
  const std::size_t index = static_cast<std::size_t>(it - stops.begin());
  const std::size_t next = previous ? (index + stops.size() - 1) % stops.size() : (index + 1) % stops.size();
  return stops[next] == control ? nullptr : stops[next];
}

BOOL Kernel::SubclassWindow(HWND hwnd, IWindowHandler* handler) {
  QX_ENTER(SubclassWindow, FALSE)
  Window* window = Find(hwnd);
  if (window == nullptr) return FALSE;
  window->handler = handler;
  return TRUE;
}

LRESULT Kernel::CallDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  QX_ENTER(CallDefaultProc, 0)
  return DefaultProc(hwnd, message, wParam, lParam);
}

BOOL Kernel::InSendMessage() {
  QX_ENTER(InSendMessage, FALSE)
  const Program* self = Current();
  return self != nullptr && self->servingSent > 0;
}

LRESULT Kernel::CallWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const Window* window = Find(hwnd);
  if (window == nullptr) return 0;
  if (IWindowHandler* handler = window->handler) {
    LRESULT result = 0;
    const ProgramCodeScope program;
    if (handler->HandleMessage(hwnd, message, wParam, lParam, &result)) return result;
  }
  return DefaultProc(hwnd, message, wParam, lParam);
}

LRESULT Kernel::DefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* window = Find(hwnd);
  if (window == nullptr) return 0;
  const bool button = EqualsNoCase(window->className, kButtonClass);
  const bool edit = EqualsNoCase(window->className, kEditClass);
  const bool combo = EqualsNoCase(window->className, kComboBoxClass);
  const DWORD type = static_cast<DWORD>(window->style) & BS_TYPEMASK;
  const auto notifyParent = [&](WORD code) {
    const Window* w = Find(hwnd);
    if (w == nullptr || !w->child) return;
    const HWND parent = w->parent;
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code), reinterpret_cast<LPARAM>(hwnd));
  };
  switch (message) {
    case WM_SETTEXT:
      window->title = lParam != 0 ? std::u16string(reinterpret_cast<const char16_t*>(lParam)) : std::u16string();
      window->needsPaint = true;
      return TRUE;
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(window->title.size());
    case WM_GETTEXT:
      return CopyText(window->title, {reinterpret_cast<char16_t*>(lParam), static_cast<std::size_t>(wParam)});
    case WM_PAINT:
      window->needsPaint = false;
      if (IsOwnerDrawButton(window->className, window->style)) PaintOwnerDrawn(hwnd);
      return 0;
    case WM_CLOSE:
      if (window->messageBox) {
        // A box closes as its Cancel would, whatever buttons it shows.
        if (!window->boxAnswer) EndBox(*window, IDCANCEL);
      } else if (window->dialog) {
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      } else if (!window->child) {
        DestroyTree(hwnd, true);
      }
      return 0;
    case WM_ENABLE:
      window->needsPaint = true;
      return 0;
    case WM_COMMAND:
      // A message box ends with the button its command names, and with
      // Cancel whether or not it shows one: Win32's boxes (Wine 8.0) end
      // every kind, Yes/No and OK-only too, with IDCANCEL.
      if (window->messageBox && HIWORD(wParam) == BN_CLICKED && !window->boxAnswer &&
          (LOWORD(wParam) == IDCANCEL || BoxHasButton(window->boxType, LOWORD(wParam)))) {
        EndBox(*window, LOWORD(wParam));
      }
      return 0;
    default:
      break;
  }
  if (button) {
    switch (message) {
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        if (!window->enabled) return 0;
        window->pushed = true;
        window->needsPaint = true;
        capture_ = hwnd;
        SetFocus(hwnd);
        return 0;
      case WM_LBUTTONUP: {
        if (capture_ != hwnd) return 0;
        capture_ = nullptr;
        window = Find(hwnd);
        if (window == nullptr || !window->pushed) return 0;
        window->pushed = false;
        window->needsPaint = true;
        const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const RECT client{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
        if (!PtInRect(client, point)) return 0;
        if (type == BS_AUTOCHECKBOX) window->checked = !window->checked;
        notifyParent(BN_CLICKED);
        return 0;
      }
      case BM_GETCHECK:
        return window->checked ? BST_CHECKED : BST_UNCHECKED;
      case BM_SETCHECK:
        window->checked = wParam == BST_CHECKED;
        window->needsPaint = true;
        return 0;
      case BM_GETSTATE:
        return (window->checked ? BST_CHECKED : 0) | (window->pushed ? BST_PUSHED : 0);
      case BM_SETSTATE:
        window->pushed = wParam != 0;
        window->needsPaint = true;
        return 0;
      case BM_SETSTYLE:
        window->style = static_cast<LONG>((static_cast<DWORD>(window->style) & ~0xFFFFu) | LOWORD(wParam));
        if (lParam != 0) window->needsPaint = true;
        return 0;
      case BM_CLICK:
        if (!window->enabled) return 0;
        if (type == BS_AUTOCHECKBOX) window->checked = !window->checked;
        notifyParent(BN_CLICKED);
        return 0;
      case WM_GETDLGCODE:
        if (type == BS_AUTOCHECKBOX || type == BS_GROUPBOX || type == BS_OWNERDRAW) return DLGC_BUTTON;
        return DLGC_BUTTON | (type == BS_DEFPUSHBUTTON ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
      default:
        return 0;
    }
  }
  if (edit) {
    switch (message) {
      case EM_LIMITTEXT:
        window->limit = wParam == 0 ? 30000 : static_cast<std::size_t>(wParam);
        return 0;
      case kSimTypeText: {
        const auto* text = reinterpret_cast<const std::u16string*>(lParam);
        window->title = text == nullptr ? std::u16string() : text->substr(0, window->limit);
        notifyParent(0x0300);  // EN_CHANGE
        return 0;
      }
      default:
        return 0;
    }
  }
  if (combo) {
    switch (message) {
      case CB_ADDSTRING:
        if (lParam == 0) return CB_ERR;
        window->items.emplace_back(reinterpret_cast<const char16_t*>(lParam));
        return static_cast<LRESULT>(window->items.size() - 1);
      case CB_GETCOUNT:
        return static_cast<LRESULT>(window->items.size());
      case CB_GETCURSEL:
        return window->selection;
      case CB_SETCURSEL:
      case kSimSelectItem: {
        // A drop-down list's text is its selected entry, as on Win32.
        window->selection = wParam < window->items.size() ? static_cast<int>(wParam) : -1;
        window->title = window->selection >= 0 ? window->items[window->selection] : std::u16string();
        if (message == kSimSelectItem) {
          notifyParent(1);  // CBN_SELCHANGE
          return 0;
        }
        return window->selection >= 0 ? window->selection : CB_ERR;
      }
      default:
        return 0;
    }
  }
  return 0;
}
// ---- Drawing --------------------------------------------------------------------------

COLORREF Kernel::GetSysColor(int index) {
  QX_ENTER(GetSysColor, 0)
  switch (index & ~static_cast<int>(SYS_COLOR_INDEX_FLAG)) {
    case COLOR_BTNFACE: return RGB(192, 192, 192);
    case COLOR_BTNSHADOW: return RGB(128, 128, 128);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    default: return RGB(0, 0, 0);
  }
}

HBRUSH Kernel::GetStockObject(int object) {
  QX_ENTER(GetStockObject, nullptr)
  return reinterpret_cast<HBRUSH>(static_cast<std::uintptr_t>(0xB000 + object));
}

void Kernel::FillSolidRect(HDC dc, const RECT& rect, COLORREF color) {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::FillSolidRect)) return;
  if (Window* window = Find(reinterpret_cast<HWND>(dc))) window->paint.push_back({DrawOp::Kind::Fill, rect, color, 0, 0});
}

void Kernel::Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::Draw3dRect)) return;
  if (Window* window = Find(reinterpret_cast<HWND>(dc))) {
    window->paint.push_back({DrawOp::Kind::Border, rect, topLeft, bottomRight, 0});
  }
}

HICON Kernel::LoadIconImage(int resourceId, int cx, int cy) {
  QX_ENTER(LoadIconImage, nullptr)
  (void)cx;
  (void)cy;
  const Program* self = Current();
  if (self == nullptr || std::find(self->iconIds.begin(), self->iconIds.end(), resourceId) == self->iconIds.end()) {
    SetLastError(1813);  // ERROR_RESOURCE_TYPE_NOT_FOUND
    return nullptr;
  }
  const HICON icon = reinterpret_cast<HICON>(nextHandle_ += 4);
  icons_[reinterpret_cast<std::uintptr_t>(icon)] = resourceId;
  ledger_.handles().Opened(HandleKind::Icon, HandleValue(icon), std::to_string(resourceId));
  return icon;
}

BOOL Kernel::DestroyIcon(HICON icon) {
  QX_ENTER_CLOSE(DestroyIcon, Icon, HandleValue(icon), FALSE)
  if (icons_.erase(reinterpret_cast<std::uintptr_t>(icon)) == 0) return FALSE;
  ledger_.handles().Closed(HandleKind::Icon, HandleValue(icon));
  return TRUE;
}

BOOL Kernel::DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT flags) {
  QX_ENTER(DrawIconEx, FALSE)
  (void)flags;
  const auto it = icons_.find(reinterpret_cast<std::uintptr_t>(icon));
  Window* window = Find(reinterpret_cast<HWND>(dc));
  if (it == icons_.end() || window == nullptr) return FALSE;
  // Icons are 16 x 16 at their natural size.
  const int width = cx == 0 ? 16 : cx;
  const int height = cy == 0 ? 16 : cy;
  window->paint.push_back({DrawOp::Kind::Icon, {x, y, x + width, y + height}, 0, 0, it->second});
  return TRUE;
}

bool Kernel::PaintOwnerDrawn(HWND hwnd) {
  Window* window = Find(hwnd);
  if (window == nullptr || !window->child) return false;
  window->paint.clear();
  DRAWITEMSTRUCT item;
  item.CtlType = 4;     // ODT_BUTTON
  item.CtlID = static_cast<UINT>(window->id);
  item.itemAction = 1;  // ODA_DRAWENTIRE
  item.itemState = (window->pushed ? ODS_SELECTED : 0) | (focus_ == hwnd ? ODS_FOCUS : 0) |
                   (window->enabled ? 0 : ODS_DISABLED);
  item.hwndItem = hwnd;
  item.hDC = reinterpret_cast<HDC>(hwnd);
  item.rcItem = {0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
  SendMessageW(window->parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
  RecordPaint(hwnd);
  return true;
}

void Kernel::RecordPaint(HWND hwnd) {
  Window* window = Find(hwnd);
  if (window == nullptr) return;
  if (window->paint.size() == window->lastPaint.size() &&
      std::equal(window->paint.begin(), window->paint.end(), window->lastPaint.begin(),
                 [](const DrawOp& a, const DrawOp& b) {
                   return a.kind == b.kind && a.rect == b.rect && a.color == b.color && a.color2 == b.color2 &&
                          a.iconId == b.iconId;
                 })) {
    return;  // the same picture again is nothing a person would notice
  }
  window->lastPaint = window->paint;
  std::string text;
  for (const DrawOp& op : window->paint) {
    if (!text.empty()) text += ", ";
    switch (op.kind) {
      case DrawOp::Kind::Fill: text += "background " + Hex(op.color); break;
      case DrawOp::Kind::Border: text += "border " + Hex(op.color) + "/" + Hex(op.color2); break;
      case DrawOp::Kind::Icon: text += "icon " + std::to_string(op.iconId); break;
    }
  }
  Log(Effect::Kind::Paint, "painted " + Label(hwnd) + ": " + (text.empty() ? "nothing" : text));
}

}  // namespace qx::sim
