# Cross-compiles the Windows builds with Debian's mingw-w64 (64-bit). The
# programs are single-threaded and use no C++ threads, so the compiler with
# Win32's own threads model serves: the POSIX model's would bring its
# pthreads library (about 27 KB) into every program for the runtime's few
# internal locks. Everything is linked statically: the programs then need
# no compiler runtime DLLs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QX_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QX_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${QX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

