// The few pieces of the C++ runtime the deliverables use, in place of the
// runtime's own: the allocation operators, the helpers through which the
// standard library reports a request it cannot meet, and the handlers for a
// broken program. Each of the runtime's versions reports by throwing, and
// one throw brings the whole exception machinery (personality, unwinder,
// exception classes over two string implementations, a demangler, a
// printf) into a program that never catches anything: half of the
// launcher's bytes.
//
// Here they end the program at once instead, as the handheld ends a program
// whose memory runs out: TerminateProcess on the program itself, so that no
// half-done step goes on and nothing more of it runs: no destructors, no
// exit handlers, no library's process-end code (ExitProcess, where exit and
// msvcrt's abort end, runs that; Windows' msvcrt also shows a message box
// first in a windowed program). The exit code says why:
//   8 (ERROR_NOT_ENOUGH_MEMORY)  an allocation was refused, or asked for more
//                                than the type can hold;
//   3 (abort's code)             the program broke its own rules: an index
//                                out of range, a pure virtual call.
// In a setup extension the program is the installer that loaded it.
//
// The file must be linked as an object, ahead of the C++ library, so that
// its definitions are there before the library's members would be pulled
// in: platform/win32/CMakeLists.txt hands it to the deliverables that way.
// A library member pulled in for a helper missing here would clash with the
// helpers that are here, so the link fails loudly rather than growing.
#include <cstdlib>
#include <new>

#include <windows.h>

namespace {

constexpr ::UINT kExitOutOfMemory = ERROR_NOT_ENOUGH_MEMORY;
constexpr ::UINT kExitBroken = 3;

[[noreturn]] void EndAtOnce(::UINT exitCode) {
  ::TerminateProcess(::GetCurrentProcess(), exitCode);
  // Ending oneself does not return; should it, nothing of the program may
  // run on either.
  __builtin_trap();
}

void* Allocate(std::size_t size) noexcept { return std::malloc(size != 0 ? size : 1); }

void* AllocateOrEnd(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) EndAtOnce(kExitOutOfMemory);
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrEnd(size); }
void* operator new[](std::size_t size) { return AllocateOrEnd(size); }
// The nothrow forms keep their contract, a null pointer; the runtime's own
// would catch the throwing form's exception to get there.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

// Every helper of the library's own file of them (bits/functexcept.h), so
// that the file is never pulled in.
namespace std {
void __throw_bad_alloc() { EndAtOnce(kExitOutOfMemory); }
void __throw_bad_array_new_length() { EndAtOnce(kExitOutOfMemory); }
void __throw_length_error(const char*) { EndAtOnce(kExitOutOfMemory); }
void __throw_bad_exception() { EndAtOnce(kExitBroken); }
void __throw_bad_cast() { EndAtOnce(kExitBroken); }
void __throw_bad_typeid() { EndAtOnce(kExitBroken); }
void __throw_logic_error(const char*) { EndAtOnce(kExitBroken); }
void __throw_domain_error(const char*) { EndAtOnce(kExitBroken); }
void __throw_invalid_argument(const char*) { EndAtOnce(kExitBroken); }
void __throw_out_of_range(const char*) { EndAtOnce(kExitBroken); }
void __throw_out_of_range_fmt(const char*, ...) { EndAtOnce(kExitBroken); }
void __throw_runtime_error(const char*) { EndAtOnce(kExitBroken); }
void __throw_range_error(const char*) { EndAtOnce(kExitBroken); }
void __throw_overflow_error(const char*) { EndAtOnce(kExitBroken); }
void __throw_underflow_error(const char*) { EndAtOnce(kExitBroken); }
void __throw_bad_function_call() { EndAtOnce(kExitBroken); }
}  // namespace std

// A call of a pure virtual function, and the handler the runtime calls when
// it gives up on the program: the runtime's own would describe the failure
// on a standard error stream the handheld does not have.
extern "C" void __cxa_pure_virtual() { EndAtOnce(kExitBroken); }
namespace __gnu_cxx {
void __verbose_terminate_handler() { EndAtOnce(kExitBroken); }
}  // namespace __gnu_cxx
