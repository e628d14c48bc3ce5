// Processes of the prefix: starting programs as the device's shell and
// other programs would, listing and ending them, messages sent as another
// program of the device sends them, and waiting for the programs to be
// idle.
#include "tools/qxagent/agent.h"

#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

namespace qx::agent {
namespace {

// The agent's environment with NAME=VALUE pairs (";" between them) put
// over it, as a block for CreateProcessW.
std::wstring Environment(const std::wstring& pairs) {
  std::map<std::wstring, std::wstring> byUpperName;  // Windows' names ignore case
  std::vector<std::wstring> drives;                  // "=C:=C:\" entries keep their place
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
      const std::wstring text = entry;
      const std::size_t equals = text.find(L'=', 1);
      if (text[0] == L'=' || equals == std::wstring::npos) {
        drives.push_back(text);
        continue;
      }
      std::wstring upper = text.substr(0, equals);
      CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
      byUpperName[upper] = text;
    }
    FreeEnvironmentStringsW(block);
  }
  std::size_t at = 0;
  while (!pairs.empty() && at <= pairs.size()) {
    const std::size_t end = std::min(pairs.find(L';', at), pairs.size());
    const std::wstring pair = pairs.substr(at, end - at);
    const std::size_t equals = pair.find(L'=');
    if (equals == 0 || equals == std::wstring::npos) {
      Fail(L"the environment is NAME=VALUE pairs with \";\" between them, not \"" + pair + L"\"");
    }
    std::wstring upper = pair.substr(0, equals);
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    byUpperName[upper] = pair;
    at = end + 1;
  }
  std::wstring block;
  for (const auto& entry : drives) block += entry + L'\0';
  for (const auto& [name, entry] : byUpperName) block += entry + L'\0';
  return block + L'\0';
}

void Start(const Fields& f, Reply& reply) {
  if (f[0].empty()) Fail(L"start needs a program's path");
  std::wstring commandLine = L"\"" + f[0] + L"\"" + (f[1].empty() ? L"" : L" " + f[1]);
  std::wstring environment = Environment(f[2]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(f[0].c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      environment.data(), L"C:\\", &startup, &info)) {
    FailCall(L"CreateProcessW");
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  reply.Line({L"pid", Decimal(info.dwProcessId)});
}

void Shell(const Fields& f, Reply& reply) {
  struct Outcome {
    bool started = false;
    DWORD error = 0;
    DWORD pid = 0;
  };
  auto outcome = std::make_shared<Outcome>();
  const std::wstring file = f[0];
  const std::wstring parameters = f[1];
  // On a thread of its own: the shell may wait for what it starts, and it
  // wants COM set up on the thread that calls it.
  const bool finished = Bounded(
      [outcome, file, parameters] {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
        info.lpVerb = L"open";
        info.lpFile = file.c_str();
        info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
        info.nShow = SW_SHOWNORMAL;
        outcome->started = ShellExecuteExW(&info) != FALSE;
        outcome->error = GetLastError();
        if (info.hProcess != nullptr) {
          outcome->pid = GetProcessId(info.hProcess);
          CloseHandle(info.hProcess);
        }
        if (SUCCEEDED(com)) CoUninitialize();
      },
      10000);
  if (!finished) Fail(L"the shell did not come back from starting \"" + file + L"\" within 10000 ms");
  if (!outcome->started) Fail(L"ShellExecuteExW failed: error " + std::to_wstring(outcome->error));
  reply.Line({L"pid", Decimal(outcome->pid)});
}

void Processes(const Fields&, Reply& reply) {
  for (const auto& [pid, image] : ProcessList()) {
    if (pid != GetCurrentProcessId()) reply.Line({L"p", Decimal(pid), image});
  }
}

DWORD ProcessId(const std::wstring& field) { return static_cast<DWORD>(Unsigned(field, L"a process id", UINT32_MAX)); }

void Terminate(const Fields& f, Reply&) {
  const DWORD pid = ProcessId(f[0]);
  const auto code = static_cast<UINT>(Unsigned(f[1], L"an exit code", UINT32_MAX));
  if (pid == GetCurrentProcessId()) Fail(L"the agent does not end itself here (quit ends it)");
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) Fail(L"no process " + f[0] + L" (error " + std::to_wstring(GetLastError()) + L")");
  const BOOL done = TerminateProcess(process, code);
  const DWORD error = GetLastError();
  // Over when this answer comes, as the device's is: the next listing
  // no longer shows it.
  const DWORD ended = done ? WaitForSingleObject(process, kAnswerMs) : WAIT_FAILED;
  CloseHandle(process);
  if (!done) Fail(L"TerminateProcess failed: error " + std::to_wstring(error));
  if (ended != WAIT_OBJECT_0) Fail(L"process " + f[0] + L" had not ended " + std::to_wstring(kAnswerMs) + L" ms later");
}

// Messages sent from workers: the handler may wait for the user (a
// message box, a dialog), and the agent must go on answering meanwhile.
struct Sends {
  CRITICAL_SECTION lock;
  std::uint64_t next = 1;
  std::set<std::uint64_t> running;
  std::vector<std::pair<std::uint64_t, LRESULT>> returned;
  Sends() { InitializeCriticalSection(&lock); }
};
Sends& TheSends() {
  static Sends sends;
  return sends;
}

struct Send {
  std::uint64_t token;
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

DWORD WINAPI RunSend(LPVOID parameter) {
  const std::unique_ptr<Send> send(static_cast<Send*>(parameter));
  const LRESULT result = SendMessageW(send->hwnd, send->message, send->wParam, send->lParam);
  Sends& sends = TheSends();
  EnterCriticalSection(&sends.lock);
  sends.running.erase(send->token);
  sends.returned.emplace_back(send->token, result);
  LeaveCriticalSection(&sends.lock);
  return 0;
}

void SendRequest(const Fields& f, Reply& reply) {
  auto send = std::make_unique<Send>();
  send->hwnd = Window(f[0]);
  send->message = NumberMessage(f[1]);
  send->wParam = static_cast<WPARAM>(Word(f[2], L"WPARAM"));
  send->lParam = static_cast<LPARAM>(Word(f[3], L"LPARAM"));
  Sends& sends = TheSends();
  EnterCriticalSection(&sends.lock);
  send->token = sends.next++;
  sends.running.insert(send->token);
  LeaveCriticalSection(&sends.lock);
  const std::uint64_t token = send->token;
  const HANDLE thread = CreateThread(nullptr, 0, RunSend, send.get(), 0, nullptr);
  if (thread == nullptr) {
    EnterCriticalSection(&sends.lock);
    sends.running.erase(token);
    LeaveCriticalSection(&sends.lock);
    FailCall(L"CreateThread");
  }
  send.release();
  CloseHandle(thread);
  reply.Line({L"token", Decimal(static_cast<std::int64_t>(token))});
}

void SendsRequest(const Fields&, Reply& reply) {
  Sends& sends = TheSends();
  EnterCriticalSection(&sends.lock);
  const auto returned = std::move(sends.returned);
  sends.returned.clear();
  LeaveCriticalSection(&sends.lock);
  for (const auto& [token, result] : returned) {
    reply.Line({L"r", Decimal(static_cast<std::int64_t>(token)), Decimal(result)});
  }
}

// One window of each thread of the process that has top-level windows.
std::vector<HWND> WindowPerThread(DWORD pid) {
  struct Search {
    DWORD pid;
    std::map<DWORD, HWND> byThread;
  } search{pid, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM parameter) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        const DWORD thread = GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s.pid) s.byThread.emplace(thread, hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  std::vector<HWND> windows;
  for (const auto& [thread, hwnd] : search.byThread) windows.push_back(hwnd);
  return windows;
}

// Whether a running process waits for input: it has reached its message
// loop (WaitForInputIdle) and each
// of its window threads takes a message now, so none is inside a handler.
// A process that has ended counts as idle.
bool Idle(DWORD pid, ULONGLONG deadline) {
  const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (process == nullptr) return true;
  bool idle = WaitForSingleObject(process, 0) == WAIT_OBJECT_0 || WaitForInputIdle(process, 0) == 0;
  const bool running = WaitForSingleObject(process, 0) != WAIT_OBJECT_0;
  CloseHandle(process);
  if (!idle || !running) return idle;
  for (const HWND hwnd : WindowPerThread(pid)) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, static_cast<UINT>(deadline - now), &result)) {
      // Gone meanwhile is as good as idle; no answer in time is not.
      if (IsWindow(hwnd)) return false;
    }
  }
  return true;
}

void IdleRequest(const Fields& f, Reply& reply) {
  std::vector<DWORD> pids;
  for (std::size_t at = 0; !f[0].empty() && at <= f[0].size();) {
    const std::size_t end = std::min(f[0].find(L',', at), f[0].size());
    pids.push_back(ProcessId(f[0].substr(at, end - at)));
    at = end + 1;
  }
  const ULONGLONG bound = Unsigned(f[1], L"the bound in ms", 600000);
  const ULONGLONG deadline = GetTickCount64() + bound;
  // Twice in a row, a little apart: a program that has just been handed a
  // message shows it only once it next waits.
  constexpr DWORD kApartMs = 20;
  std::vector<DWORD> busy;
  int quietRounds = 0;
  for (;;) {
    busy.clear();
    for (const DWORD pid : pids) {
      if (!Idle(pid, deadline)) busy.push_back(pid);
    }
    quietRounds = busy.empty() ? quietRounds + 1 : 0;
    if (quietRounds == 2) break;
    const ULONGLONG now = GetTickCount64();
    if (now + kApartMs > deadline) break;
    Sleep(kApartMs);
  }
  for (const DWORD pid : busy) reply.Line({L"busy", Decimal(pid)});
  Sends& sends = TheSends();
  EnterCriticalSection(&sends.lock);
  const auto running = sends.running;
  LeaveCriticalSection(&sends.lock);
  for (const std::uint64_t token : running) reply.Line({L"pending", Decimal(static_cast<std::int64_t>(token))});
}

}  // namespace

void AddProcessRequests(Requests& requests) {
  requests.push_back({"start", "start PATH ARGUMENTS ENV", 3, Start});
  requests.push_back({"shell", "shell FILE PARAMETERS", 2, Shell});
  requests.push_back({"processes", "processes", 0, Processes});
  requests.push_back({"terminate", "terminate PID EXITCODE", 2, Terminate});
  requests.push_back({"send", "send HWND MSG WPARAM LPARAM", 4, SendRequest});
  requests.push_back({"sends", "sends", 0, SendsRequest});
  requests.push_back({"idle", "idle PIDS BOUND-MS", 2, IdleRequest});
}

}  // namespace qx::agent
