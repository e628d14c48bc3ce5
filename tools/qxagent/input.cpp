// The user's hands: the stylus on the screen, buttons pressed, text typed,
// list entries picked, message boxes answered; and messages posted as
// another program of the device posts them.
#include "tools/qxagent/agent.h"

namespace qx::agent {
namespace {

bool SameClass(HWND hwnd, const wchar_t* name) { return _wcsicmp(ClassOf(hwnd).c_str(), name) == 0; }

POINT Point(const Fields& f) {
  return {static_cast<LONG>(Integer(f[0], L"X", -100000, 100000)), static_cast<LONG>(Integer(f[1], L"Y", -100000, 100000))};
}

LPARAM ClientPoint(HWND hwnd, POINT screen) {
  ScreenToClient(hwnd, &screen);
  return MAKELPARAM(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y));
}

void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!PostMessageW(hwnd, message, wParam, lParam)) FailCall(L"PostMessageW");
}

// The stylus between "down" and "up".
struct Stylus {
  bool down = false;
  HWND window = nullptr;  // that got the down; none when it took no input
  POINT at{};
};
Stylus& TheStylus() {
  static Stylus stylus;
  return stylus;
}

// Whether the window and every window it lies in are enabled: Win32 gives
// no stylus input to a disabled window or what is inside it (a dialog
// behind its message box), but a posted message would reach it all the
// same, so the agent posts none there.
bool TakesInput(HWND hwnd) {
  for (HWND w = hwnd; w != nullptr && w != GetDesktopWindow(); w = GetAncestor(w, GA_PARENT)) {
    if (!IsWindowEnabled(w)) return false;
  }
  return true;
}

// A tap lands on the window under the point; its top-level window comes to
// the front first, as the device's window manager brings it.
HWND StylusDown(POINT point) {
  const HWND hit = WindowFromPoint(point);
  if (hit == nullptr || hit == GetDesktopWindow()) {
    Fail(L"no window at " + std::to_wstring(point.x) + L", " + std::to_wstring(point.y));
  }
  const bool takes = TakesInput(hit);
  if (takes) {
    if (const HWND top = GetAncestor(hit, GA_ROOT)) Activate(top);
    Post(hit, WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(hit, point));
  }
  TheStylus() = {true, takes ? hit : nullptr, point};
  return hit;
}

void StylusUp(Reply& reply) {
  Stylus& stylus = TheStylus();
  if (!stylus.down) Fail(L"the stylus is not down");
  const HWND hwnd = stylus.window;
  const POINT at = stylus.at;
  stylus = {};
  if (hwnd != nullptr && IsWindow(hwnd)) Post(hwnd, WM_LBUTTONUP, 0, ClientPoint(hwnd, at));
  reply.Line({L"hit", Hex(hwnd)});
}

void Tap(const Fields& f, Reply& reply) {
  const HWND hit = StylusDown(Point(f));
  Reply up;
  StylusUp(up);
  reply.Line({L"hit", Hex(hit)});
}

void Down(const Fields& f, Reply& reply) { reply.Line({L"hit", Hex(StylusDown(Point(f)))}); }

void Up(const Fields&, Reply& reply) { StylusUp(reply); }

void Move(const Fields& f, Reply& reply) {
  Stylus& stylus = TheStylus();
  const POINT point = Point(f);
  const HWND hwnd = WindowFromPoint(point);
  if (hwnd == nullptr) Fail(L"no window at " + f[0] + L", " + f[1]);
  if (TakesInput(hwnd)) Post(hwnd, WM_MOUSEMOVE, stylus.down ? MK_LBUTTON : 0, ClientPoint(hwnd, point));
  stylus.at = point;
  reply.Line({L"hit", Hex(hwnd)});
}

HWND EnabledControl(const std::wstring& field, const wchar_t* className, const wchar_t* kind) {
  const HWND control = Window(field);
  if (className != nullptr && !SameClass(control, className)) {
    Fail(L"window " + field + L" is no " + kind + L" (class \"" + ClassOf(control) + L"\")");
  }
  if (!IsWindowEnabled(control)) Fail(L"the control " + field + L" is disabled");
  if (!TakesInput(control)) Fail(L"the window of control " + field + L" is disabled (a message box over it?)");
  return control;
}

void Click(const Fields& f, Reply&) {
  const HWND control = EnabledControl(f[0], L"Button", L"button");
  // A dialog that is not active can pass a click over.
  Activate(GetAncestor(control, GA_ROOT));
  Post(control, BM_CLICK, 0, 0);
}

void SetText(const Fields& f, Reply&) {
  const HWND edit = EnabledControl(f[0], L"Edit", L"text field");
  // As typing over the whole text does: the field's own limit holds, and
  // the field itself tells its parent EN_CHANGE (once; WM_SETTEXT would
  // tell it too, but ignores the limit).
  SendBounded(edit, EM_SETSEL, 0, -1);
  std::wstring text = f[1];
  auto* data = text.data();
  SendBounded(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(data));
}

void Select(const Fields& f, Reply&) {
  const HWND list = EnabledControl(f[0], L"ComboBox", L"list");
  const LRESULT count = SendBounded(list, CB_GETCOUNT, 0, 0);
  const auto index = Integer(f[1], L"an item's index", 0, 100000);
  if (index >= count) Fail(L"the list has " + std::to_wstring(count) + L" items");
  if (SendBounded(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0) != index) Fail(L"the list refused the selection");
  // CB_SETCURSEL tells nobody; the user's pick tells the dialog.
  Post(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

void Answer(const Fields& f, Reply&) {
  const HWND box = Window(f[0]);
  if (_wcsicmp(ClassOf(box).c_str(), L"#32770") != 0) Fail(L"window " + f[0] + L" is no message box");
  const int id = static_cast<int>(Integer(f[1], L"a button id", 1, 65535));
  const HWND button = GetDlgItem(box, id);
  if (button == nullptr || !IsWindowVisible(button)) Fail(L"the box has no button " + f[1]);
  // Windows can pass BM_CLICK over on a box that is not active.
  Activate(box);
  Post(button, BM_CLICK, 0, 0);
}

void PostRequest(const Fields& f, Reply&) {
  Post(Window(f[0]), NumberMessage(f[1]), static_cast<WPARAM>(Word(f[2], L"WPARAM")),
       static_cast<LPARAM>(Word(f[3], L"LPARAM")));
}

}  // namespace

void AddInputRequests(Requests& requests) {
  requests.push_back({"tap", "tap X Y", 2, Tap});
  requests.push_back({"down", "down X Y", 2, Down});
  requests.push_back({"up", "up", 0, Up});
  requests.push_back({"move", "move X Y", 2, Move});
  requests.push_back({"click", "click HWND", 1, Click});
  requests.push_back({"settext", "settext HWND TEXT", 2, SetText});
  requests.push_back({"select", "select HWND INDEX", 2, Select});
  requests.push_back({"answer", "answer HWND BUTTON-ID", 2, Answer});
  requests.push_back({"post", "post HWND MSG WPARAM LPARAM", 4, PostRequest});
}

}  // namespace qx::agent
