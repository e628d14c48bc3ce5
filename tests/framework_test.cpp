// The application framework when the platform refuses a call: a window
// whose destroy failed stays known to its object, and no window outlives
// its object still routed to it.
#include <gtest/gtest.h>

#include <optional>

#include "platform/framework/framework.h"
#include "platform/sim/sim.h"

namespace qx {
namespace {

constexpr ControlTemplate kOkOnly[] = {{kButtonClass, IDOK, u"OK", 0, 4, 4, 30, 12, WS_CHILD | WS_VISIBLE, 0, {}}};
constexpr DialogTemplate kDialog{901, u"Refusing", WS_POPUP | WS_VISIBLE, 0, 0, 0, 60, 30, u"System", 8, kOkOnly};
constexpr std::u16string_view kProgram = u"\\framework.exe";

class CTestApp : public CWinApp {
 public:
  using CWinApp::CWinApp;
  BOOL InitInstance() override { return FALSE; }
};

// What the program saw of its dialog after DoModal and after the dialog
// object went away.
struct Seen {
  INT_PTR result = 0;
  HWND hwnd = nullptr;
  bool keptAfterModal = false;
  bool aliveAfterModal = false;
  bool aliveAfterObject = false;
  bool routedAfterObject = false;
};

TEST(Framework, ARefusedDestroyNeverLeavesAWindowRoutedToAGoneObject) {
  struct Case {
    const char* name;
    std::optional<std::size_t> failures;  // DestroyWindow calls refused (0: every one)
    bool keptAfterModal;
    bool aliveAfterObject;
  };
  const Case cases[] = {
      {"destroy succeeds", std::nullopt, false, false},
      {"first destroy refused: the object's end destroys it", 1, true, false},
      {"every destroy refused: the window stays, unrouted", 0, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimDevice device;
    Seen seen;
    device.kernel().InstallProgram(kProgram, {[&](Platform& platform, std::u16string_view) {
                                                CTestApp app(platform, u"Framework");
                                                {
                                                  CDialog dialog(app, kDialog);
                                                  seen.result = dialog.DoModal();
                                                  seen.hwnd = dialog.m_hWnd;
                                                  seen.keptAfterModal = dialog.m_hWnd != nullptr;
                                                  if (seen.hwnd != nullptr) {
                                                    seen.aliveAfterModal = device.kernel().Describe(seen.hwnd).has_value();
                                                  }
                                                }
                                                if (seen.hwnd != nullptr) {
                                                  const auto info = device.kernel().Describe(seen.hwnd);
                                                  seen.aliveAfterObject = info.has_value();
                                                  seen.routedAfterObject = info && info->routed;
                                                }
                                                return 0;
                                              },
                                              {}});
    device.kernel().StartProgram(kProgram, u"");
    HWND ok = nullptr;
    for (const auto& window : device.kernel().TopLevelWindows()) {
      if (window.title == u"Refusing") ok = device.kernel().Children(window.hwnd).at(0).hwnd;
    }
    ASSERT_NE(ok, nullptr);
    if (c.failures) device.ledger().Plan({sim::Call::DestroyWindow, 1, *c.failures});
    ASSERT_TRUE(device.kernel().Click(ok, nullptr));

    EXPECT_EQ(seen.result, IDOK);
    EXPECT_EQ(seen.keptAfterModal, c.keptAfterModal);
    EXPECT_EQ(seen.aliveAfterModal, c.keptAfterModal);
    EXPECT_EQ(seen.aliveAfterObject, c.aliveAfterObject);
    EXPECT_FALSE(seen.routedAfterObject);
  }
}

}  // namespace
}  // namespace qx
