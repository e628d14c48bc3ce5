// qxagent.exe: the Wine world's hands inside a prefix. Started once per
// scenario (`wine C:\qx\qxagent.exe`), it reads one request a line on
// standard input and answers each on standard output (see wire.h for the
// lines, README "Windows builds and Wine" for the requests): zero or more
// data lines, then "ok" or "error<TAB>message". It ends on "quit" or when
// its input ends. Every request gets an answer, and none waits without end.
#include <cstdio>
#include <string>

#include "tools/qxagent/agent.h"
#include "tools/qxagent/wire.h"

namespace qx::agent {
namespace {

// A request longer than this is refused whole (and read to its end).
constexpr std::size_t kLongestRequest = 1 << 20;

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
std::string Narrow(const std::wstring& text) {
  return wire::Utf8(std::u16string(text.begin(), text.end()));
}

void Write(const std::string& bytes) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  std::size_t at = 0;
  while (at < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(out, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written, nullptr) || written == 0) {
      // Nobody reads the answers any more: the client is gone.
      ExitProcess(1);
    }
    at += written;
  }
}

void Answer(const Reply& reply) {
  std::string text;
  for (const auto& line : reply.Lines()) {
    std::vector<std::string> fields;
    for (const auto& field : line) fields.push_back(Narrow(field));
    text += wire::Join(fields) + "\n";
  }
  Write(text + "ok\n");
}

void AnswerError(const std::wstring& message) { Write(wire::Join({"error", Narrow(message)}) + "\n"); }

std::wstring WineVersion() {
  using Version = const char*(__cdecl*)();
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto version =
      ntdll != nullptr ? reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                       : nullptr;
  if (version == nullptr) return L"unknown";
  std::wstring text;
  for (const char* c = version(); *c != '\0'; ++c) text += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  return text;
}

Requests AllRequests() {
  Requests requests;
  requests.push_back({"hello", "hello", 0, [](const Fields&, Reply& reply) {
                        reply.Line({L"version", WineVersion()});
                      }});
  AddProcessRequests(requests);
  AddWindowRequests(requests);
  AddMenuRequests(requests);
  AddInputRequests(requests);
  AddOwnWindowRequests(requests);
  AddRegistryRequests(requests);
  return requests;
}

void HandleLine(const Requests& requests, const std::string& line) {
  const auto fields = wire::Split(line);
  if (!fields) return AnswerError(L"a backslash in the request starts no escape (\\\\ \\t \\n \\r)");
  const std::string& name = fields->front();
  if (name == "quit") {
    Write("ok\n");
    ExitProcess(0);
  }
  const Request* request = nullptr;
  for (const auto& r : requests) {
    if (name == r.name) request = &r;
  }
  if (request == nullptr) {
    std::wstring names = L"quit";
    for (const auto& r : requests) names += L" " + Wide(*wire::Utf16(r.name));
    return AnswerError(L"usage: no request \"" + Wide(wire::Utf16(name).value_or(u"?")) + L"\"; there are: " + names);
  }
  if (fields->size() != request->fields + 1) {
    return AnswerError(L"usage: " + Wide(*wire::Utf16(request->usage)));
  }
  Fields wide;
  for (std::size_t i = 1; i < fields->size(); ++i) {
    const auto text = wire::Utf16((*fields)[i]);
    if (!text) return AnswerError(L"field " + std::to_wstring(i) + L" is not UTF-8");
    wide.push_back(Wide(*text));
  }
  Reply reply;
  try {
    request->handle(wide, reply);
  } catch (const Failure& failure) {
    return AnswerError(failure.message);
  } catch (const std::bad_alloc&) {
    return AnswerError(L"out of memory");
  } catch (const std::exception& e) {
    return AnswerError(L"failed: " + Wide(wire::Utf16(e.what()).value_or(u"?")));
  }
  Answer(reply);
}

}  // namespace
}  // namespace qx::agent

int main() {
  using namespace qx::agent;
  // A fault must end the agent (its client then reads the end of its
  // output), never open Wine's crash dialog and wait there.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  const Requests requests = AllRequests();
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  std::string pending;
  bool tooLong = false;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
    for (DWORD i = 0; i < got; ++i) {
      if (buffer[i] != '\n') {
        if (pending.size() < kLongestRequest) {
          pending += buffer[i];
        } else {
          tooLong = true;
        }
        continue;
      }
      if (tooLong) {
        AnswerError(L"a request is at most " + std::to_wstring(kLongestRequest) + L" bytes");
      } else {
        HandleLine(requests, pending);
      }
      pending.clear();
      tooLong = false;
    }
  }
  return 0;
}
