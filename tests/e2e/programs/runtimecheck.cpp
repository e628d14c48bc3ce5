// The deliverables' runtime piece (platform/win32/runtime/) on real Win32:
// a request for memory that cannot be met, or a rule of the standard
// library broken, ends the program at once. Built as the deliverables are
// (their compile options, the same object linked ahead of the C++ library)
// and windowed like them.
//
// Its command line names one step. It prints "before STEP", takes the step,
// then prints "after STEP" and returns 0. As the program ends by itself an
// exit handler, a static object's destructor and a library it loaded
// (farewell.dll, told of the process's end as every DLL is, the setup
// extension among them) print too. A program ended at once shows only its
// first line. Output goes straight to the standard output handle,
// unbuffered, so nothing written is lost when the program ends.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include <windows.h>

namespace {

void Say(std::string_view text) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::WriteFile(out, "\n", 1, &written, nullptr);
}

// A size no heap gives (a quarter of the 64-bit space), hidden from the
// optimiser, and a place to keep what was allocated so the allocation stays.
volatile std::size_t g_huge = std::size_t{1} << 62;
void* volatile g_kept = nullptr;

struct Farewell {
  ~Farewell() { Say("destructor"); }
} g_farewell;

struct Step {
  std::wstring_view name;
  void (*take)();
};

constexpr Step kSteps[] = {
    // What the programs do all the time: memory is there.
    {L"small", [] { g_kept = new std::u16string(100, u'x'); }},
    // The allocation operators refuse.
    {L"new", [] { g_kept = ::operator new(g_huge); }},
    {L"new[]", [] { g_kept = new char16_t[g_huge]; }},
    // A string grown past what the heap has: the library asks operator new.
    {L"string", [] {
       auto* text = new std::u16string;
       g_kept = text;
       text->resize(g_huge / 4);
     }},
    // Sizes beyond what the type can hold: the library's own helpers.
    {L"string-length", [] {
       std::u16string text;
       text.reserve(text.max_size() + 1);
     }},
    {L"allocate", [] {
       std::allocator<std::u16string> allocator;
       g_kept = allocator.allocate(std::allocator_traits<decltype(allocator)>::max_size(allocator) + 1);
     }},
    {L"allocate-overflow", [] { g_kept = std::allocator<std::u16string>().allocate(SIZE_MAX / 8); }},
    // Broken rules: an index out of range, the runtime giving up.
    {L"substr", [] { g_kept = new std::u16string(std::u16string(u"abc").substr(4)); }},
    {L"terminate", [] { std::terminate(); }},
};

std::string Narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  if (::LoadLibraryW(L"farewell.dll") == nullptr) {
    Say("no farewell.dll");
    return 2;
  }
  std::atexit([] { Say("exit handler"); });
  const std::wstring_view name = commandLine != nullptr ? commandLine : L"";
  for (const Step& step : kSteps) {
    if (step.name != name) continue;
    Say("before " + Narrow(name));
    step.take();
    Say("after " + Narrow(name));
    return 0;
  }
  Say("no step " + Narrow(name));
  return 2;
}
