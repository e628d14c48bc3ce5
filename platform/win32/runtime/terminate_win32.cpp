// How a deliverable ends when the C++ runtime gives up on it (an exception
// nobody catches, a noexcept function that throws): at once.
//
// The runtime's own handler would first describe the exception on the
// standard error stream, which a handheld program does not have, and to
// name the exception's type it brings a symbol demangler and a complete
// printf into every program: about 65 KB of each deliverable, a third of
// the launcher. The linker cannot drop them once they are in (every
// function with unwind data is kept), so this definition takes the place of
// the runtime's before the runtime's file is ever pulled in. It must be
// linked as an object, ahead of the C++ library: platform/win32/CMakeLists.txt
// hands it to the deliverables that way.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
