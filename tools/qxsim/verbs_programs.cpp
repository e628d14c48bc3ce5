// Verbs that start and end programs: the tray client, the browser, the
// launcher through the shell, the installer with the setup hooks, and the
// device's own processes.
#include "tools/qxsim/verbs.h"

#include "setup/pranset.h"

namespace qx::qxsim {

// What the shell does when the user taps a link or a file: finds the
// type's open command in HKEY_CLASSES_ROOT and starts it with the target
// in place of %1.
void VerbTable::ShellOpen(Runner& r, const Line& line, const std::u16string& target) {
  sim::SimRegistry& registry = r.device_.registry();
  std::u16string type;
  const auto colon = target.find(u"://");
  if (colon != std::u16string::npos) {
    type = target.substr(0, colon);
    for (char16_t& c : type) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
  } else {
    const auto dot = target.rfind(u'.');
    if (dot == std::u16string::npos) r.Fail(line, "the shell cannot tell the type of \"" + line.words[2] + "\"");
    type = StringValue(registry, HKEY_CLASSES_ROOT, target.substr(dot), u"");
    if (type.empty()) r.Fail(line, "no program is registered for \"" + sim::Utf8(target.substr(dot)) + "\"");
  }
  const std::u16string command =
      StringValue(registry, HKEY_CLASSES_ROOT, type + u"\\Shell\\Open\\Command", u"");
  if (command.empty()) r.Fail(line, "\"" + sim::Utf8(type) + "\" has no open command");
  std::u16string program;
  std::u16string arguments;
  if (command[0] == u'"') {
    const auto close = command.find(u'"', 1);
    program = command.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1);
    arguments = close == std::u16string::npos ? u"" : command.substr(close + 1);
  } else {
    const auto blank = command.find(u' ');
    program = command.substr(0, blank);
    arguments = blank == std::u16string::npos ? u"" : command.substr(blank);
  }
  while (!arguments.empty() && arguments.front() == u' ') arguments.erase(arguments.begin());
  for (std::size_t at = 0; (at = arguments.find(u"%1", at)) != std::u16string::npos; at += target.size()) {
    arguments.replace(at, 2, target);
  }
  r.device_.kernel().Note("the shell runs " + sim::Utf8(command));
  if (r.device_.kernel().StartProgram(program, arguments) == 0) {
    SHELLEXECUTEINFOW info;
    info.lpVerb = u"open";
    info.lpFile = program;
    info.lpParameters = arguments;
    r.device_.kernel().ShellExecuteExW(&info);
    r.device_.kernel().RunUntilQuiet();
  }
}

void VerbTable::RunInstaller(Runner& r, std::function<void(Platform&)> hooks) {
  // The device's installer calls the hooks from a process of its own, so a
  // message it sends to the client waits for the client as on the device.
  r.device_.kernel().InstallProgram(kInstallerPath, {[hooks](Platform& platform, std::u16string_view) {
                                                       hooks(platform);
                                                       return 0;
                                                     },
                                                     {}});
  r.device_.kernel().StartProgram(kInstallerPath, u"");
}

void VerbTable::AddProgramVerbs(std::vector<Runner::Verb>& verbs) {
  verbs.push_back({"start client", "start client [2002|2003]", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 3, "start client [2002|2003]");
                     const bool later = line.words.size() == 3 && line.words[2] == "2003";
                     if (line.words.size() == 3 && !later && line.words[2] != "2002") {
                       r.Fail(line, "usage: start client [2002|2003]");
                     }
                     r.device_.kernel().StartProgram(later ? kClient2003Path : kClient2002Path, u"");
                   }});

  verbs.push_back({"close client", "close client [N]", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 3, "close client [N]");
                     std::size_t index = 0;
                     if (line.words.size() == 3) {
                       const auto n = Number(line.words[2]);
                       if (!n || *n < 1) r.Fail(line, "usage: close client [N] (N counts from 1)");
                       index = static_cast<std::size_t>(*n - 1);
                     }
                     const HWND window = r.ClientWindow(index);
                     if (window == nullptr) r.Fail(line, "the tray client is not running");
                     r.device_.kernel().CloseWindow(window);
                   }});

  verbs.push_back({"browser open", "browser open [URL]", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 3, "browser open [URL]");
                     const std::u16string url = line.words.size() == 3 ? sim::Utf16(line.words[2]) : u"";
                     SHELLEXECUTEINFOW info;
                     info.lpVerb = u"open";
                     info.lpFile = u"iexplore.exe";
                     info.lpParameters = url;
                     r.device_.kernel().ShellExecuteExW(&info);
                     r.device_.kernel().RunUntilQuiet();
                   }});

  verbs.push_back({"processes", "processes", [](Runner& r, const Line& line) {
                     Need(r, line, 1, 1, "processes");
                     for (const auto& p : r.device_.kernel().Processes()) {
                       r.out_ << "    " << p.id << " \"" << sim::Utf8(p.image) << "\"\n";
                     }
                   }});

  verbs.push_back({"process start", "process start IMAGE", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "process start IMAGE");
                     const DWORD pid = r.device_.kernel().AddWorldProcess(sim::Utf16(line.words[2]));
                     r.device_.kernel().Note("process " + std::to_string(pid) + " \"" + line.words[2] + "\" runs");
                   }});

  verbs.push_back({"toolhelp", "toolhelp absent|present", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 2, "toolhelp absent|present");
                     const std::string state = Lower(line.words[1]);
                     if (state != "absent" && state != "present") r.Fail(line, "usage: toolhelp absent|present");
                     r.device_.kernel().SetToolhelpPresent(state == "present");
                     r.device_.kernel().Note("\"toolhelp.dll\" is " + state);
                   }});

  verbs.push_back({"install", "install DIRECTORY [package FILE.reg]", [](Runner& r, const Line& line) {
                     if (line.words.size() != 2 && !(line.words.size() == 4 && Lower(line.words[2]) == "package")) {
                       r.Fail(line, "usage: install DIRECTORY [package FILE.reg]");
                     }
                     std::string package;
                     if (line.words.size() == 4) {
                       bool ok = false;
                       const auto path = r.Resolve(line, line.words[3]);
                       package = ReadFile(path, &ok);
                       if (!ok) r.Fail(line, "cannot read \"" + path.string() + "\"");
                       // Check the package's entries now: a bad file must stop the
                       // scenario here, not halfway through the installation.
                       sim::SimDevice scratch;
                       if (auto error = sim::ImportReg(scratch.registry(), package, path.string())) {
                         r.Fail(line, "cannot import: " + error->ToString());
                       }
                     }
                     // The package carries the 2003 launcher into the directory.
                     InstallLauncher(r.device_.kernel(), sim::Utf16(line.words[1]) + u"\\stv.exe", kStrevel2003);
                     RunInstaller(r, [dir = sim::Utf16(line.words[1]), package, &r](Platform& platform) {
                       CPranset pranset(platform);
                       sim::Kernel& kernel = r.device_.kernel();
                       kernel.Note("installer: Install_Init");
                       const int init = pranset.Install_Init(nullptr, TRUE, FALSE, dir);
                       kernel.Note("installer: Install_Init returned " + std::to_string(init));
                       // Copying the package's files takes the installer a while.
                       platform.processes.Sleep(1);
                       if (!package.empty()) {
                         kernel.Note("installer: the package's files are copied and its registry entries written");
                         sim::ImportReg(r.device_.registry(), package, "package");
                       }
                       kernel.Note("installer: Install_Exit");
                       const int exit = pranset.Install_Exit(nullptr, dir, 0, 0, 0, 0, 0);
                       kernel.Note("installer: Install_Exit returned " + std::to_string(exit));
                     });
                   }});

  verbs.push_back({"uninstall", "uninstall DIRECTORY", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 2, "uninstall DIRECTORY");
                     RunInstaller(r, [dir = sim::Utf16(line.words[1]), &r](Platform& platform) {
                       CPranset pranset(platform);
                       sim::Kernel& kernel = r.device_.kernel();
                       kernel.Note("installer: Uninstall_Init");
                       const int init = pranset.Uninstall_Init(nullptr, dir);
                       kernel.Note("installer: Uninstall_Init returned " + std::to_string(init));
                       platform.processes.Sleep(1);
                       kernel.Note("installer: Uninstall_Exit");
                       const int exit = pranset.Uninstall_Exit(nullptr);
                       kernel.Note("installer: Uninstall_Exit returned " + std::to_string(exit));
                     });
                   }});

  verbs.push_back({"launch", "launch 2002|2003 COMMAND-LINE", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "launch 2002|2003 COMMAND-LINE");
                     if (line.words[1] != "2002" && line.words[1] != "2003") {
                       r.Fail(line, "usage: launch 2002|2003 COMMAND-LINE");
                     }
                     const std::u16string path =
                         line.words[1] == "2002" ? std::u16string(kLauncherPath) : u"\\Program Files\\Quorvix2003\\stv.exe";
                     InstallLauncher(r.device_.kernel(), path, line.words[1] == "2002" ? kStrevel2002 : kStrevel2003);
                     r.device_.kernel().StartProgram(path, sim::Utf16(line.words[2]));
                   }});

  verbs.push_back({"shell open", "shell open LINK-OR-FILE", [](Runner& r, const Line& line) {
                     Need(r, line, 3, 3, "shell open LINK-OR-FILE");
                     ShellOpen(r, line, sim::Utf16(line.words[2]));
                   }});
}

}  // namespace qx::qxsim
