// The end-to-end tests' installer driver: loads a setup library and calls
// its hooks in the device installer's order, printing each hook's result.
//
//   qxinstall install DLL INSTALL_DIR [BETWEEN]
//                                         Install_Init (first call, not yet
//                                         installed), then Install_Exit
//   qxinstall uninstall DLL INSTALL_DIR [BETWEEN]
//                                         Uninstall_Init, then Uninstall_Exit
// With BETWEEN, each hook's result goes to BETWEEN.first and .second, and
// the second hook waits until BETWEEN exists (at most a minute): the
// installer copies the package's files and writes its registry entries
// between the hooks, which the scenario runner does then.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// The installer's hook types: its header declares them without a calling
// convention of their own.
using InstallInit = int (*)(HWND, BOOL, BOOL, LPCWSTR);
using InstallExit = int (*)(HWND, LPCWSTR, WORD, WORD, WORD, WORD, WORD);
using UninstallInit = int (*)(HWND, LPCWSTR);
using UninstallExit = int (*)(HWND);

template <class T>
T Hook(HMODULE library, const char* name) {
  const auto hook = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (hook == nullptr) {
    std::fprintf(stderr, "qxinstall: no export %s\n", name);
    std::exit(1);
  }
  return hook;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: qxinstall install|uninstall DLL INSTALL_DIR [BETWEEN]\n");
    return 2;
  }
  const auto mark = [&](const wchar_t* which, int result) {
    if (argc != 5) return;
    const std::wstring path = std::wstring(argv[4]) + which;
    if (std::FILE* file = _wfopen(path.c_str(), L"w")) {
      std::fprintf(file, "%d\n", result);
      std::fclose(file);
    }
  };
  const auto between = [&](int first) {
    mark(L".first", first);
    if (argc != 5) return;
    for (int waited = 0; waited < 6000 && GetFileAttributesW(argv[4]) == INVALID_FILE_ATTRIBUTES; ++waited) Sleep(10);
  };
  const HMODULE library = LoadLibraryW(argv[2]);
  if (library == nullptr) {
    std::fprintf(stderr, "qxinstall: cannot load the library (error %lu)\n", GetLastError());
    return 1;
  }
  const wchar_t* dir = argv[3];
  if (std::wcscmp(argv[1], L"install") == 0) {
    const int init = Hook<InstallInit>(library, "Install_Init")(nullptr, TRUE, FALSE, dir);
    std::printf("Install_Init %d\n", init);
    std::fflush(stdout);
    between(init);
    const int exit = Hook<InstallExit>(library, "Install_Exit")(nullptr, dir, 0, 0, 0, 0, 0);
    mark(L".second", exit);
    std::printf("Install_Exit %d\n", exit);
  } else if (std::wcscmp(argv[1], L"uninstall") == 0) {
    const int init = Hook<UninstallInit>(library, "Uninstall_Init")(nullptr, dir);
    std::printf("Uninstall_Init %d\n", init);
    std::fflush(stdout);
    between(init);
    const int exit = Hook<UninstallExit>(library, "Uninstall_Exit")(nullptr);
    mark(L".second", exit);
    std::printf("Uninstall_Exit %d\n", exit);
  } else {
    std::fprintf(stderr, "qxinstall: unknown action\n");
    return 2;
  }
  std::fflush(stdout);
  FreeLibrary(library);
  return 0;
}
