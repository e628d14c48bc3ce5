#include "client/icon_button.h"

namespace qx {

namespace {
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WORD WA_INACTIVE = 0;
}  // namespace

CIconButton::CIconButton(Platform& platform) : CButton(platform) {
  const COLORREF face = windows().GetSysColor(COLOR_BTNFACE | static_cast<int>(SYS_COLOR_INDEX_FLAG));
  const COLORREF text = windows().GetSysColor(COLOR_BTNTEXT | static_cast<int>(SYS_COLOR_INDEX_FLAG));
  m_colors = {face, text, face, text, face, text};
}

CIconButton::~CIconButton() { FreeIcons(); }

void CIconButton::FreeIcons() {
  for (Icon& slot : m_icons) {
    if (slot.icon != nullptr) windows().DestroyIcon(slot.icon);
    slot = {};
  }
}

DWORD CIconButton::SetIcons(int hotId, DWORD hotCx, DWORD hotCy, int normalId, DWORD normalCx, DWORD normalCy,
                            int disabledId, DWORD disabledCx, DWORD disabledCy) {
  FreeIcons();
  if (HICON hot = windows().LoadIconImage(hotId, 0, 0)) {
    m_icons[kHot] = {hot, hotCx, hotCy};
    if (normalId != 0) {
      if (HICON normal = windows().LoadIconImage(normalId, 0, 0)) m_icons[kNormal] = {normal, normalCx, normalCy};
    }
    if (disabledId != 0) {
      if (HICON disabled = windows().LoadIconImage(disabledId, 0, 0)) {
        m_icons[kDisabled] = {disabled, disabledCx, disabledCy};
      }
    }
  }
  if (m_hWnd != nullptr) Invalidate(TRUE);
  return 0;
}

DWORD CIconButton::SetBorderDrawing(bool on, bool repaint) {
  m_bBorder = on;
  if (repaint && m_hWnd != nullptr) Invalidate(TRUE);
  return 0;
}

void CIconButton::PreSubclassWindow() {
  const DWORD style = static_cast<DWORD>(GetStyle());
  if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) m_bDefault = TRUE;
  windows().SetWindowStyle(m_hWnd, static_cast<LONG>((style & ~BS_TYPEMASK) | BS_OWNERDRAW));
  SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

const CIconButton::Icon& CIconButton::ChooseIcon() const {
  if (m_bDisabled) return m_icons[kDisabled].icon != nullptr ? m_icons[kDisabled] : m_icons[kHot];
  if (!m_bPressed && !m_bHot && m_icons[kNormal].icon != nullptr) return m_icons[kNormal];
  return m_icons[kHot];
}

void CIconButton::DrawItem(const DRAWITEMSTRUCT& item) {
  m_bPressed = (item.itemState & ODS_SELECTED) != 0;
  m_bFocused = (item.itemState & ODS_FOCUS) != 0;
  m_bDisabled = (item.itemState & ODS_DISABLED) != 0;
  const RECT& rect = item.rcItem;

  COLORREF background = m_colors[kNormalBack];
  if (m_bHot || m_bPressed) {
    background = m_colors[kHotBack];
  } else if (m_bFocused) {
    background = m_colors[kFocusBack];
  }
  windows().FillSolidRect(item.hDC, rect, background);

  if (m_bBorder) {
    const COLORREF shadow = windows().GetSysColor(COLOR_BTNSHADOW);
    const COLORREF highlight = windows().GetSysColor(COLOR_BTNHIGHLIGHT);
    if (m_bPressed) {
      windows().Draw3dRect(item.hDC, rect, shadow, highlight);
    } else if (m_bHot) {
      windows().Draw3dRect(item.hDC, rect, highlight, shadow);
    }
  }

  if (m_icons[kHot].icon == nullptr) return;
  const Icon& icon = ChooseIcon();
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  const int x = static_cast<int>(rect.left + (width - static_cast<LONG>(icon.cx)) / 2);
  const int y = static_cast<int>(rect.top + (height - static_cast<LONG>(icon.cy)) / 2);
  windows().DrawIconEx(item.hDC, x, y, icon.icon, 0, 0, DI_NORMAL);
}

HBRUSH CIconButton::CtlColor() { return windows().GetStockObject(NULL_BRUSH); }

void CIconButton::OnMouseMove(WPARAM keys) {
  if (!m_bFlat) return;
  POINT point;
  if (!windows().GetCursorPos(&point)) return;
  const HWND under = windows().WindowFromPoint(point);
  if ((keys & MK_LBUTTON) != 0 && !m_bHot) return;
  if (under == m_hWnd && !m_bHot) {
    m_bHot = TRUE;
    Invalidate(TRUE);
    // A window timer rather than a timer routine: it reaches this object
    // through the button's own messages.
    m_nHoverTimer = SetTimer(kHoverTimerId, kHoverPeriodMs);
  }
}

void CIconButton::OnHoverTimer() {
  POINT point;
  RECT client;
  if (!windows().GetCursorPos(&point) || !windows().ScreenToClient(m_hWnd, &point) || !GetClientRect(&client)) {
    return;
  }
  if (!PtInRect(client, point)) PostMessage(WM_MOUSELEAVE);
}

void CIconButton::CancelHover() {
  // A timer the platform would not stop is kept, so the next cancel tries
  // again instead of leaving it to tick for ever.
  if (m_nHoverTimer != 0 && KillTimer(m_nHoverTimer)) m_nHoverTimer = 0;
  if (m_bHot) {
    m_bHot = FALSE;
    Invalidate(TRUE);
  }
}

bool CIconButton::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_MOUSEMOVE:
      *result = Default();
      OnMouseMove(wParam);
      return true;
    case WM_TIMER:
      if (wParam != kHoverTimerId) return false;
      OnHoverTimer();
      *result = 0;
      return true;
    case WM_MOUSELEAVE:
    case WM_KILLFOCUS:
    case WM_CANCELMODE:
      CancelHover();
      *result = Default();
      return true;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) CancelHover();
      *result = Default();
      return true;
    case WM_LBUTTONDOWN:
      SendMessage(BM_SETSTATE, TRUE);
      *result = Default();
      return true;
    case WM_LBUTTONDBLCLK:
      // A double tap is just another tap for this button.
      *result = windows().CallDefaultProc(m_hWnd, WM_LBUTTONDOWN, wParam, lParam);
      return true;
    case BM_SETSTYLE: {
      const DWORD style = static_cast<DWORD>(wParam);
      if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
        m_bDefault = TRUE;
      } else if ((style & BS_TYPEMASK) == BS_PUSHBUTTON) {
        m_bDefault = FALSE;
      }
      // The dialog manager may make us its default button; we stay owner-drawn.
      *result = windows().CallDefaultProc(m_hWnd, BM_SETSTYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW, lParam);
      return true;
    }
    case WM_GETDLGCODE:
      *result = Default() | (m_bDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
      return true;
    case WM_ENABLE:
      *result = Default();
      if (!wParam) {
        const HWND parent = GetParent();
        const HWND next = windows().GetNextDlgTabItem(parent, m_hWnd, FALSE);
        windows().SetFocus(next != nullptr ? next : parent);
        CancelHover();
      }
      return true;
    case WM_DESTROY:
      if (m_nHoverTimer != 0) KillTimer(m_nHoverTimer);
      m_nHoverTimer = 0;
      *result = Default();
      return true;
    default:
      return CButton::OnWndMsg(message, wParam, lParam, result);
  }
}

}  // namespace qx
