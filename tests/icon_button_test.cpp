// The owner-drawn icon button in a small dialog of a program on the
// simulated device: what it paints as the stylus and the pointer move, how
// it stands towards the dialog manager, and what it gives back at the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/icon_button.h"
#include "platform/sim/sim.h"

namespace qx {
namespace {

using sim::Call;
using sim::DrawOp;

constexpr std::u16string_view kProgramPath = u"\\Program Files\\Quorvix\\button.exe";
constexpr int kButtonId = 1005;
constexpr int kOtherId = 1006;
constexpr int kHot = 134;
constexpr int kNormal = 133;
constexpr int kAppIcon = 128;
constexpr int kMissing = 999;  // an icon the program does not carry

// Requests the world sends to the host dialog.
constexpr UINT WM_TEST_ENABLE = WM_USER + 1;  // wParam: enable
constexpr UINT WM_TEST_BORDER = WM_USER + 2;  // wParam: on, lParam: repaint
constexpr UINT WM_TEST_ICONS = WM_USER + 3;   // the setup's icons once more

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
constexpr ControlTemplate kWithOther[] = {
    {kButtonClass, kButtonId, u"", 0, 10, 10, 20, 20, kChild | BS_PUSHBUTTON, 0, {}},
    {kButtonClass, kOtherId, u"Other", 0, 10, 40, 40, 14, kChild | BS_PUSHBUTTON, 0, {}},
};
constexpr ControlTemplate kDefaultWithOther[] = {
    {kButtonClass, kButtonId, u"", 0, 10, 10, 20, 20, kChild | BS_DEFPUSHBUTTON, 0, {}},
    {kButtonClass, kOtherId, u"Other", 0, 10, 40, 40, 14, kChild | BS_PUSHBUTTON, 0, {}},
};
constexpr ControlTemplate kAlone[] = {
    {kButtonClass, kButtonId, u"", 0, 10, 10, 20, 20, kChild | BS_PUSHBUTTON, 0, {}},
};
constexpr DialogTemplate kHost{900, u"Host", WS_POPUP | WS_VISIBLE, 0, 20, 40, 100, 80, u"System", 8, kWithOther};
constexpr DialogTemplate kDefaultHost{901, u"Host", WS_POPUP | WS_VISIBLE, 0, 20, 40, 100, 80, u"System", 8,
                                      kDefaultWithOther};
constexpr DialogTemplate kAloneHost{902, u"Host", WS_POPUP | WS_VISIBLE, 0, 20, 40, 100, 80, u"System", 8, kAlone};

// Where the pointer goes when it leaves the button: the desktop below the
// dialog, and the dialog itself beside the button.
constexpr POINT kDesktopPoint{200, 300};
constexpr POINT kDialogPoint{150, 100};

struct ButtonSetup {
  int hot = kHot;
  int normal = kNormal;
  int disabled = 0;
  bool border = false;
  const DialogTemplate* dialog = &kHost;
};

class CTestApp : public CWinApp {
 public:
  using CWinApp::CWinApp;
  BOOL InitInstance() override { return FALSE; }
};

class CHostDlg : public CDialog {
 public:
  CHostDlg(CWinApp& app, const ButtonSetup& setup, int& clicks)
      : CDialog(app, *setup.dialog), m_button(app.platform()), m_setup(setup), m_clicks(clicks) {}

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    SetIcons();
    m_button.SetBorderDrawing(m_setup.border, true);
    return TRUE;
  }

 protected:
  void DoDataExchange() override { DDX_Control(kButtonId, m_button); }

  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
    *result = 0;
    switch (message) {
      case WM_TEST_ENABLE:
        m_button.EnableWindow(wParam != 0 ? TRUE : FALSE);
        return true;
      case WM_TEST_BORDER:
        m_button.SetBorderDrawing(wParam != 0, lParam != 0);
        return true;
      case WM_TEST_ICONS:
        SetIcons();
        return true;
      case WM_COMMAND:
        if (wParam == MAKEWPARAM(kButtonId, BN_CLICKED)) {
          ++m_clicks;
          return true;
        }
        break;
      default:
        break;
    }
    return CDialog::OnWndMsg(message, wParam, lParam, result);
  }

 private:
  void SetIcons() {
    m_button.SetIcons(m_setup.hot, 16, 16, m_setup.normal, 16, 16, m_setup.disabled, 16, 16);
  }

  CIconButton m_button;
  const ButtonSetup& m_setup;
  int& m_clicks;
};

// One device running a program whose dialog holds the button.
class ButtonRun {
 public:
  explicit ButtonRun(ButtonSetup setup) : setup_(setup) {
    kernel().InstallProgram(kProgramPath, {[this](Platform& platform, std::u16string_view) {
                                             CTestApp app(platform, u"Quorvix");
                                             CHostDlg dlg(app, setup_, clicks);
                                             dlg.DoModal();
                                             return 0;
                                           },
                                           {kAppIcon, kNormal, kHot}});
    kernel().StartProgram(kProgramPath, u"");
    for (const sim::WindowInfo& window : kernel().TopLevelWindows()) {
      if (window.title == u"Host") dialog = window.hwnd;
    }
    for (const sim::WindowInfo& child : kernel().Children(dialog)) {
      if (child.id == kButtonId) button = child.hwnd;
      if (child.id == kOtherId) other = child.hwnd;
    }
  }

  sim::Kernel& kernel() { return device.kernel(); }
  sim::WindowInfo Button() { return kernel().Describe(button).value_or(sim::WindowInfo{}); }
  POINT CentreOf(HWND hwnd) {
    const RECT rect = kernel().Describe(hwnd).value_or(sim::WindowInfo{}).rect;
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  }
  POINT Centre() { return CentreOf(button); }
  LRESULT ToDialog(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return kernel().SendFromShell(dialog, message, wParam, lParam).value_or(-1);
  }
  LRESULT ToButton(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return kernel().SendFromShell(button, message, wParam, lParam).value_or(-1);
  }
  void Hover() { kernel().MovePointer(Centre()); }

  // The last paint in short: "fill" (the button face), "raised" or "sunken"
  // borders, "icon <id>"; anything unexpected shows as such.
  std::string Picture() {
    const COLORREF face = kernel().GetSysColor(COLOR_BTNFACE);
    const COLORREF shadow = kernel().GetSysColor(COLOR_BTNSHADOW);
    const COLORREF light = kernel().GetSysColor(COLOR_BTNHIGHLIGHT);
    std::string text;
    for (const DrawOp& op : Button().lastPaint) {
      if (!text.empty()) text += ", ";
      switch (op.kind) {
        case DrawOp::Kind::Fill:
          text += op.color == face ? "fill" : "fill of another colour";
          break;
        case DrawOp::Kind::Border:
          text += op.color == light && op.color2 == shadow   ? "raised"
                  : op.color == shadow && op.color2 == light ? "sunken"
                                                             : "odd border";
          break;
        case DrawOp::Kind::Icon:
          text += "icon " + std::to_string(op.iconId);
          break;
      }
    }
    return text;
  }

  int clicks = 0;  // the button's clicks that reached the dialog
  HWND dialog = nullptr;
  HWND button = nullptr;
  HWND other = nullptr;

 private:
  ButtonSetup setup_;

 public:
  sim::SimDevice device;  // last: stops the program before the rest goes
};

// ---- Drawing ---------------------------------------------------------------------

TEST(IconButton, PaintsTheIconThatStateAndSlotsCall) {
  struct Case {
    const char* name;
    ButtonSetup setup;
    // Idle, stylus held, released, hovered, after the pointer left.
    std::vector<std::string> pictures;
  };
  const Case cases[] = {
      {"the tray's button",
       {},
       {"fill, icon 133", "fill, icon 134", "fill, icon 133", "fill, icon 134", "fill, icon 133"}},
      {"with border",
       {.border = true},
       {"fill, icon 133", "fill, sunken, icon 134", "fill, icon 133", "fill, raised, icon 134", "fill, icon 133"}},
      {"without normal icon",
       {.normal = 0},
       {"fill, icon 134", "fill, icon 134", "fill, icon 134", "fill, icon 134", "fill, icon 134"}},
      {"normal icon missing",
       {.normal = kMissing},
       {"fill, icon 134", "fill, icon 134", "fill, icon 134", "fill, icon 134", "fill, icon 134"}},
      {"without any icon",
       {.hot = 0, .normal = 0, .border = true},
       {"fill", "fill, sunken", "fill", "fill, raised", "fill"}},
      {"hot icon missing", {.hot = kMissing}, {"fill", "fill", "fill", "fill", "fill"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ButtonRun run(c.setup);
    ASSERT_NE(run.button, nullptr);
    std::vector<std::string> seen;
    seen.push_back(run.Picture());
    run.kernel().StylusDown(run.Centre());
    seen.push_back(run.Picture());
    run.kernel().StylusUp();
    seen.push_back(run.Picture());
    run.Hover();
    seen.push_back(run.Picture());
    run.kernel().MovePointer(kDesktopPoint);
    run.kernel().AdvanceTime(50);  // the hover timer's period
    seen.push_back(run.Picture());
    EXPECT_EQ(seen, c.pictures);
    EXPECT_EQ(run.clicks, 1) << "the tap reaches the dialog as a click";
  }
}

TEST(IconButton, FillsItsRectangleAndCentresTheIcon) {
  ButtonRun run({.border = true});
  run.Hover();
  const sim::WindowInfo button = run.Button();
  const LONG width = button.rect.right - button.rect.left;
  const LONG height = button.rect.bottom - button.rect.top;
  ASSERT_EQ(button.lastPaint.size(), 3u);
  const RECT client{0, 0, width, height};
  EXPECT_EQ(button.lastPaint[0].rect, client);
  EXPECT_EQ(button.lastPaint[1].rect, client);
  const LONG x = (width - 16) / 2;
  const LONG y = (height - 16) / 2;
  EXPECT_EQ(button.lastPaint[2].rect, (RECT{x, y, x + 16, y + 16}));
}

TEST(IconButton, DisabledButtonShowsItsDisabledIconOrElseTheHotOne) {
  struct Case {
    ButtonSetup setup;
    std::string picture;
  };
  const Case cases[] = {
      {{}, "fill, icon 134"},
      {{.disabled = kAppIcon}, "fill, icon 128"},
      {{.disabled = kMissing}, "fill, icon 134"},
      {{.hot = kMissing, .disabled = kAppIcon}, "fill"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    ButtonRun run(c.setup);
    run.ToDialog(WM_TEST_ENABLE, FALSE);
    EXPECT_FALSE(run.Button().enabled);
    EXPECT_EQ(run.Picture(), c.picture);
    run.ToDialog(WM_TEST_ENABLE, TRUE);
    EXPECT_EQ(run.Picture(), c.setup.hot == kHot ? "fill, icon 133" : "fill");
  }
}

// ---- Hover tracking ----------------------------------------------------------------

TEST(IconButton, PointerLeavingWithoutAMoveIsNoticedWithinOneTimerPeriod) {
  for (POINT away : {kDesktopPoint, kDialogPoint}) {
    SCOPED_TRACE(testing::Message() << "pointer to " << away.x << "," << away.y);
    ButtonRun run({});
    run.Hover();
    EXPECT_EQ(run.Picture(), "fill, icon 134");
    // Staying over the button keeps it hot however long.
    run.kernel().AdvanceTime(500);
    EXPECT_EQ(run.Picture(), "fill, icon 134");
    EXPECT_EQ(run.kernel().LiveTimers(), 1u);

    run.kernel().MovePointer(away);
    // The hover timer looks every 50 ms: not before, and not later.
    run.kernel().AdvanceTime(49);
    EXPECT_EQ(run.Picture(), "fill, icon 134");
    run.kernel().AdvanceTime(1);
    EXPECT_EQ(run.Picture(), "fill, icon 133");
    EXPECT_EQ(run.kernel().LiveTimers(), 0u) << "the hover timer runs only while hot";
  }
}

TEST(IconButton, HoverEndsOnFocusLossCancelModeDeactivationLeaveAndDisabling) {
  struct Case {
    const char* name;
    void (*cancel)(ButtonRun&);
    std::string picture;
  };
  const Case cases[] = {
      {"focus to another control", [](ButtonRun& run) { run.kernel().StylusDown(run.CentreOf(run.other)); },
       "fill, icon 133"},
      {"cancel mode", [](ButtonRun& run) { run.ToButton(WM_CANCELMODE); }, "fill, icon 133"},
      {"deactivation", [](ButtonRun& run) { run.ToButton(WM_ACTIVATE, 0); }, "fill, icon 133"},
      {"pointer left", [](ButtonRun& run) { run.ToButton(WM_MOUSELEAVE); }, "fill, icon 133"},
      {"disabled", [](ButtonRun& run) { run.ToDialog(WM_TEST_ENABLE, FALSE); }, "fill, icon 134"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ButtonRun run({.border = true});
    run.Hover();
    ASSERT_EQ(run.Picture(), "fill, raised, icon 134");
    c.cancel(run);
    EXPECT_EQ(run.Picture(), c.picture) << "at once, not after the timer";
    EXPECT_EQ(run.kernel().LiveTimers(), 0u);
  }
}

TEST(IconButton, StylusHeldDoesNotStartHover) {
  ButtonRun run({.border = true});
  run.kernel().StylusDown(run.Centre());
  run.kernel().MovePointer(run.Centre());
  EXPECT_EQ(run.Picture(), "fill, sunken, icon 134");
  EXPECT_EQ(run.kernel().LiveTimers(), 0u);
  run.kernel().StylusUp();
  EXPECT_EQ(run.Picture(), "fill, icon 133");
  EXPECT_EQ(run.clicks, 1);
}

TEST(IconButton, DoubleTapActsAsATap) {
  ButtonRun run({.border = true});
  run.Hover();
  run.ToButton(WM_LBUTTONDBLCLK, 1, MAKELPARAM(5, 5));
  EXPECT_EQ(run.Picture(), "fill, sunken, icon 134");
  run.kernel().StylusUp();
  EXPECT_EQ(run.clicks, 1);
}

// ---- Towards the dialog manager ----------------------------------------------------

TEST(IconButton, StaysOwnerDrawnAsDefaultOrPlainPushButton) {
  for (const DialogTemplate* dialog : {&kHost, &kDefaultHost}) {
    const bool startsDefault = dialog == &kDefaultHost;
    SCOPED_TRACE(startsDefault ? "bound as default button" : "bound as plain button");
    ButtonRun run({.dialog = dialog});
    const auto type = [&run] { return static_cast<DWORD>(run.Button().style) & BS_TYPEMASK; };
    const auto pushKind = [&run] { return run.ToButton(WM_GETDLGCODE) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON); };
    const DWORD upper = static_cast<DWORD>(run.Button().style) & 0xFFFF0000u;

    EXPECT_EQ(type(), BS_OWNERDRAW);
    EXPECT_EQ(pushKind(), startsDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);

    const std::pair<DWORD, LRESULT> styles[] = {
        {BS_DEFPUSHBUTTON, DLGC_DEFPUSHBUTTON},
        {BS_PUSHBUTTON, DLGC_UNDEFPUSHBUTTON},
        {BS_DEFPUSHBUTTON | 0x0100, DLGC_DEFPUSHBUTTON},
    };
    for (const auto& [style, code] : styles) {
      run.ToButton(BM_SETSTYLE, style, TRUE);
      EXPECT_EQ(type(), BS_OWNERDRAW) << "style " << style;
      EXPECT_EQ(pushKind(), code) << "style " << style;
      EXPECT_EQ(static_cast<DWORD>(run.Button().style) & 0xFFFF0000u, upper);
    }
    EXPECT_EQ(run.Picture(), "fill, icon 133") << "still painted by the owner";
  }
}

TEST(IconButton, AsksForTheNullBrush) {
  ButtonRun run({});
  const LRESULT brush = run.ToDialog(WM_CTLCOLORBTN, 0, reinterpret_cast<LPARAM>(run.button));
  EXPECT_EQ(brush, reinterpret_cast<LRESULT>(run.kernel().GetStockObject(NULL_BRUSH)));
}

TEST(IconButton, DisablingMovesTheFocusOnToTheNextTabStopOrTheDialog) {
  for (const DialogTemplate* dialog : {&kHost, &kAloneHost}) {
    ButtonRun run({.dialog = dialog});
    ASSERT_EQ(run.kernel().GetFocus(), run.button);
    run.ToDialog(WM_TEST_ENABLE, FALSE);
    EXPECT_EQ(run.kernel().GetFocus(), dialog == &kHost ? run.other : run.dialog);
  }
}

TEST(IconButton, BorderDrawingSwitchesAndRepaintsWhenAsked) {
  ButtonRun run({});
  run.Hover();
  EXPECT_EQ(run.Picture(), "fill, icon 134");
  run.ToDialog(WM_TEST_BORDER, TRUE, FALSE);
  EXPECT_EQ(run.Picture(), "fill, icon 134") << "no repaint asked for";
  run.ToDialog(WM_TEST_BORDER, TRUE, TRUE);
  EXPECT_EQ(run.Picture(), "fill, raised, icon 134");
  run.ToDialog(WM_TEST_BORDER, FALSE, TRUE);
  EXPECT_EQ(run.Picture(), "fill, icon 134");
}

// ---- Icons -------------------------------------------------------------------------

TEST(IconButton, GivesEveryIconBackWhenReplacedAndAtTheEnd) {
  ButtonRun run({.disabled = kAppIcon});
  const auto loads = [&run] { return run.device.ledger().Count(Call::LoadIconImage); };
  const auto destroys = [&run] { return run.device.ledger().Count(Call::DestroyIcon); };
  ASSERT_EQ(loads(), 3u);
  EXPECT_EQ(destroys(), 0u);

  run.ToDialog(WM_TEST_ICONS);
  EXPECT_EQ(loads(), 6u);
  EXPECT_EQ(destroys(), 3u) << "the icons held so far go first";
  EXPECT_EQ(run.Picture(), "fill, icon 133");

  run.kernel().CloseWindow(run.dialog);
  ASSERT_FALSE(run.kernel().Describe(run.dialog));
  EXPECT_EQ(destroys(), 6u);
}

}  // namespace
}  // namespace qx
