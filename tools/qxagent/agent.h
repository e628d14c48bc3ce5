// The agent's parts (tools/qxagent): the request loop (main.cpp) hands each
// request to a handler of the part that acts on its kind of thing: windows
// and their controls (windows.cpp), popup menus (menus.cpp), the user's input (input.cpp), the
// agent's own windows (own_windows.cpp), processes and messages sent
// (processes.cpp), the registry (registry.cpp).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qx::agent {

// Ends a request with "error<TAB>message"; the lines it had gathered are
// dropped.
struct Failure {
  std::wstring message;
};
[[noreturn]] void Fail(const std::wstring& message);
// "CALL failed: error N" with the thread's last error.
[[noreturn]] void FailCall(const wchar_t* call);

// A request's fields after its name, as UTF-16.
using Fields = std::vector<std::wstring>;

// The data lines of an answer.
class Reply {
 public:
  void Line(std::vector<std::wstring> fields) { lines_.push_back(std::move(fields)); }
  const std::vector<std::vector<std::wstring>>& Lines() const { return lines_; }

 private:
  std::vector<std::vector<std::wstring>> lines_;
};

struct Request {
  const char* name;
  const char* usage;  // the fields after the name, as "usage: NAME ..." shows them
  std::size_t fields;
  std::function<void(const Fields&, Reply&)> handle;
};
using Requests = std::vector<Request>;

void AddWindowRequests(Requests& requests);
void AddMenuRequests(Requests& requests);
void AddInputRequests(Requests& requests);
void AddOwnWindowRequests(Requests& requests);
void AddProcessRequests(Requests& requests);
void AddRegistryRequests(Requests& requests);

// Numbers and handles as the protocol writes them; a field that is not one
// fails the request, naming what it should have been.
std::int64_t Integer(const std::wstring& field, const wchar_t* what, std::int64_t least, std::int64_t most);
std::uint64_t Unsigned(const std::wstring& field, const wchar_t* what, std::uint64_t most);
// A WPARAM or LPARAM: -2^63 to 2^64 - 1, kept as its 64 bits.
std::uint64_t Word(const std::wstring& field, const wchar_t* what);
// A message number, refused when its parameters would point into the
// agent's memory (text, records): the agent is handed numbers only, and the
// system would read or write at them.
UINT NumberMessage(const std::wstring& field);
HWND Handle(const std::wstring& field);   // lowercase hex (either case accepted), no 0x
HWND Window(const std::wstring& field);   // a handle that names an existing window
std::wstring Hex(HWND hwnd);              // "0" for none
std::wstring Decimal(std::int64_t n);
std::wstring Flag(bool on);

// Each wait for another program is bounded: a message sent to it gives up
// after this long, as does work done for the agent on another thread.
constexpr DWORD kAnswerMs = 3000;

// Runs work on a thread of its own and waits for it at most `ms`: false when
// it did not finish (it may still finish later; it must not touch what the
// caller's frame owns, so it captures by value).
bool Bounded(std::function<void()> work, DWORD ms);

// WM_GETTEXT asked of the window itself (bounded), since another program's
// control shows GetWindowText only the text it was created with.
std::wstring AskedText(HWND hwnd);
std::wstring ClassOf(HWND hwnd);
std::wstring TitleOf(HWND hwnd);  // GetWindowText: top-level windows' titles
LRESULT SendBounded(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);  // fails the request on no answer

// The window of class #32768 that is open and visible, or none.
HWND OpenPopupMenu();
// Makes a top-level window the foreground one and raises it over the
// others; false when the system refused or its thread did not answer.
bool Activate(HWND topLevel);

// Images of this prefix's processes by id (a Toolhelp snapshot).
std::vector<std::pair<DWORD, std::wstring>> ProcessList();

}  // namespace qx::agent
