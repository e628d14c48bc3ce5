// The tray's owner-drawn menu button: an icon on a flat background, the hot
// icon while the stylus holds or hovers over it, the normal one otherwise.
#pragma once

#include <array>

#include "platform/framework/framework.h"

namespace qx {

class CIconButton : public CButton {
 public:
  explicit CIconButton(Platform& platform);
  ~CIconButton() override;

  // Loads the icons at their natural size; a hot icon that fails to load
  // leaves all three slots empty. Always 0.
  DWORD SetIcons(int hotId, DWORD hotCx, DWORD hotCy, int normalId, DWORD normalCx, DWORD normalCy, int disabledId,
                 DWORD disabledCx, DWORD disabledCy);
  DWORD SetBorderDrawing(bool on, bool repaint);

  void PreSubclassWindow() override;
  void DrawItem(const DRAWITEMSTRUCT& item) override;
  HBRUSH CtlColor() override;

  [[nodiscard]] bool IsHot() const { return m_bHot; }
  [[nodiscard]] bool IsDefault() const { return m_bDefault; }
  [[nodiscard]] UINT_PTR HoverTimer() const { return m_nHoverTimer; }

  // The hover timer's id on the button's window.
  static constexpr UINT_PTR kHoverTimerId = 1;
  static constexpr UINT kHoverPeriodMs = 50;

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  enum Slot { kHot = 0, kNormal = 1, kDisabled = 2 };
  enum Colour { kHotBack = 0, kHotText, kNormalBack, kNormalText, kFocusBack, kFocusText };
  struct Icon {
    HICON icon = nullptr;
    DWORD cx = 0;
    DWORD cy = 0;
  };

  void OnMouseMove(WPARAM keys);
  void OnHoverTimer();
  void CancelHover();
  void FreeIcons();
  const Icon& ChooseIcon() const;

  BOOL m_bFlat = TRUE;
  BOOL m_bHot = FALSE;
  BOOL m_bPressed = FALSE;
  BOOL m_bFocused = FALSE;
  BOOL m_bDisabled = FALSE;
  BOOL m_bDefault = FALSE;
  BOOL m_bBorder = TRUE;
  std::array<COLORREF, 6> m_colors{};
  std::array<Icon, 3> m_icons{};
  UINT_PTR m_nHoverTimer = 0;
};

}  // namespace qx
