// Windows of "another program of the device": made by the agent on a UI
// thread of its own that keeps taking their messages, so that they answer
// as any program's windows do while the request loop goes on.
#include <memory>

#include "tools/qxagent/agent.h"

namespace qx::agent {
namespace {

// A message the UI thread takes from its queue as work to do.
constexpr UINT kRunWork = WM_APP + 1;

struct UiWork {
  std::function<void()> work;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~UiWork() { CloseHandle(done); }
};

DWORD WINAPI RunUiThread(LPVOID ready) {
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the queue
  SetEvent(static_cast<HANDLE>(ready));
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == nullptr && msg.message == kRunWork) {
      // The poster's share of the work came with the message.
      const std::unique_ptr<std::shared_ptr<UiWork>> share(reinterpret_cast<std::shared_ptr<UiWork>*>(msg.lParam));
      (*share)->work();
      SetEvent((*share)->done);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

DWORD UiThread() {
  static DWORD id = [] {
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD thread = 0;
    const HANDLE handle = CreateThread(nullptr, 0, RunUiThread, ready, 0, &thread);
    if (handle == nullptr) return DWORD{0};
    CloseHandle(handle);
    WaitForSingleObject(ready, kAnswerMs);
    CloseHandle(ready);
    return thread;
  }();
  if (id == 0) Fail(L"the agent has no UI thread");
  return id;
}

// Runs work on the UI thread and waits for it (bounded: a window made
// there with another program's parent waits for that program).
void OnUiThread(std::function<void()> work) {
  auto task = std::make_shared<UiWork>();
  task->work = std::move(work);
  auto* share = new std::shared_ptr<UiWork>(task);
  if (!PostThreadMessageW(UiThread(), kRunWork, 0, reinterpret_cast<LPARAM>(share))) {
    delete share;
    FailCall(L"PostThreadMessageW");
  }
  if (WaitForSingleObject(task->done, kAnswerMs) != WAIT_OBJECT_0) {
    Fail(L"the agent's UI thread did not finish within " + std::to_wstring(kAnswerMs) + L" ms");
  }
}

// Any class name the scenario gives: registered once, drawn white, and
// otherwise left to the system's default handling (a close ends it).
bool Registered(const std::wstring& className) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), className.c_str(), &existing)) return true;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = className.c_str();
  return RegisterClassExW(&windowClass) != 0;
}

struct Made {
  HWND hwnd = nullptr;
  DWORD error = 0;
};

struct Geometry {
  int x, y, width, height;
};

Geometry GeometryOf(const Fields& f, std::size_t first) {
  const auto n = [&](std::size_t i, const wchar_t* what, std::int64_t least) {
    return static_cast<int>(Integer(f[first + i], what, least, 100000));
  };
  return {n(0, L"X", -100000), n(1, L"Y", -100000), n(2, L"a width", 0), n(3, L"a height", 0)};
}

void OpenWindow(const Fields& f, Reply& reply) {
  const std::wstring className = f[0];
  const std::wstring title = f[1];
  if (className.empty()) Fail(L"a window class needs a name");
  const Geometry g = GeometryOf(f, 2);
  auto made = std::make_shared<Made>();
  OnUiThread([=] {
    if (!Registered(className)) {
      made->error = GetLastError();
      return;
    }
    made->hwnd = CreateWindowExW(0, className.c_str(), title.c_str(), WS_POPUP | WS_VISIBLE, g.x, g.y, g.width,
                                 g.height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    made->error = GetLastError();
    if (made->hwnd != nullptr) SetForegroundWindow(made->hwnd);
  });
  if (made->hwnd == nullptr) Fail(L"CreateWindowExW failed: error " + std::to_wstring(made->error));
  reply.Line({L"hwnd", Hex(made->hwnd)});
}

void ChildWindow(const Fields& f, Reply& reply) {
  const HWND parent = Window(f[0]);
  const std::wstring className = f[1];
  if (className.empty()) Fail(L"a window class needs a name");
  const Geometry g = GeometryOf(f, 2);
  auto made = std::make_shared<Made>();
  // Win32 lets a window's parent be another program's; the two threads'
  // input is then joined, as it is for any child of another thread.
  // A child made in another thread's window takes that input's focus and
  // activation with it; the device's front window stays in front.
  const HWND front = GetForegroundWindow();
  OnUiThread([=] {
    if (!Registered(className)) {
      made->error = GetLastError();
      return;
    }
    made->hwnd = CreateWindowExW(0, className.c_str(), L"", WS_CHILD | WS_VISIBLE, g.x, g.y, g.width, g.height, parent,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    made->error = GetLastError();
    if (made->hwnd != nullptr) SetWindowPos(made->hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  });
  if (made->hwnd == nullptr) Fail(L"CreateWindowExW failed: error " + std::to_wstring(made->error));
  if (front != nullptr && GetForegroundWindow() != front) Activate(front);
  reply.Line({L"hwnd", Hex(made->hwnd)});
}

}  // namespace

void AddOwnWindowRequests(Requests& requests) {
  requests.push_back({"open-window", "open-window CLASS TITLE X Y W H", 6, OpenWindow});
  requests.push_back({"child-window", "child-window PARENT-HWND CLASS X Y W H", 6, ChildWindow});
}

}  // namespace qx::agent
