// The Wine world's transport (wine_session.h): children started with
// fork and exec, pipes read with poll against a deadline, every child
// ended and reaped by the session that started it.
#include "tools/qxsim/wine_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tools/qxagent/wire.h"

extern char** environ;

namespace qx::qxsim {
namespace fs = std::filesystem;
namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::runtime_error Error(const std::string& what) { return std::runtime_error("wine world: " + what); }

// The session's environment: ours, with these names set.
std::vector<std::string> Environment(const std::vector<std::pair<std::string, std::string>>& set) {
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const auto& [name, value] : set) replaced = replaced || text.rfind(name + "=", 0) == 0;
    if (!replaced) env.push_back(text);
  }
  for (const auto& [name, value] : set) env.push_back(name + "=" + value);
  return env;
}

// A program's path as the shell would find it.
std::string Resolve(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  throw Error("no program \"" + program + "\" on the PATH (tools/wine-world.sh installs it)");
}

struct Redirect {
  int childFd;
  int parentFd;  // -1: /dev/null
};

// Starts a child: its standard streams (and any other fd) as redirected,
// every other fd of ours closed. An exec that fails is reported here.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& cwd,
            const std::vector<Redirect>& redirects) {
  const std::string program = Resolve(argv.at(0));
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) throw Error(std::string("pipe: ") + std::strerror(errno));
  int highest = 2;
  for (const auto& r : redirects) highest = std::max(highest, r.childFd);
  const pid_t pid = fork();
  if (pid < 0) {
    close(report[0]);
    close(report[1]);
    throw Error(std::string("fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    // Only calls that are safe between fork and exec from here on. Every
    // fd is first moved out of the way of the targets (a parent's pipe may
    // have got fd 0 when our standard input was closed).
    constexpr int kOutOfTheWay = 64;
    int moved[16];
    const std::size_t count = std::min<std::size_t>(redirects.size(), 16);
    for (std::size_t i = 0; i < count; ++i) {
      const int from = redirects[i].parentFd >= 0 ? redirects[i].parentFd : open("/dev/null", O_RDWR);
      moved[i] = from < 0 ? -1 : fcntl(from, F_DUPFD, kOutOfTheWay);
      if (moved[i] < 0) _exit(127);
    }
    const int reportFd = highest + 1;
    const int reportMoved = fcntl(report[1], F_DUPFD, kOutOfTheWay);
    for (std::size_t i = 0; i < count; ++i) {
      if (dup2(moved[i], redirects[i].childFd) < 0) _exit(127);
    }
    if (reportMoved < 0 || dup2(reportMoved, reportFd) < 0 || fcntl(reportFd, F_SETFD, FD_CLOEXEC) < 0) _exit(127);
    close_range(static_cast<unsigned>(reportFd) + 1, ~0U, 0);
    int error = 0;
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) error = errno;
    if (error == 0) {
      execve(program.c_str(), args.data(), envp.data());
      error = errno;
    }
    [[maybe_unused]] const ssize_t told = write(reportFd, &error, sizeof error);
    _exit(127);
  }
  close(report[1]);
  // Nothing to read: the exec closed the report pipe. An int: its errno.
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    waitpid(pid, nullptr, 0);
    throw Error("cannot run " + program + (cwd.empty() ? "" : " in " + cwd) + ": " + std::strerror(error));
  }
  return pid;
}

// The child's exit status once it has ended, waiting at most ms.
std::optional<int> WaitFor(pid_t pid, int ms) {
  const long long deadline = NowMs() + ms;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) return status;
    if (NowMs() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Ends a child of ours: asked first, then killed.
void End(pid_t& pid, int signal, int graceMs) {
  if (pid <= 0) return;
  if (signal != 0) kill(pid, signal);
  if (!WaitFor(pid, graceMs)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

// Runs a command to its end (killed past ms); its exit status.
int Run(const std::vector<std::string>& argv, const std::vector<std::string>& env, int ms) {
  pid_t pid = Spawn(argv, env, "", {{0, -1}, {1, -1}, {2, -1}});
  const auto status = WaitFor(pid, ms);
  if (!status) {
    End(pid, SIGKILL, 1000);
    return -1;
  }
  return *status;
}

std::string Tail(const fs::path& file, std::size_t bytes) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.size() > bytes ? "…" + text.substr(text.size() - bytes) : text;
}

void Pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw Error(std::string("pipe: ") + std::strerror(errno));
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

fs::path WineSession::DefaultTemplate(const fs::path& sourceRoot) {
  const char* named = std::getenv("QX_WINE_TEMPLATE");
  if (named != nullptr && *named != '\0') return named;
  return sourceRoot / "build" / "wine-world" / "template";
}

WineSession::WineSession(const fs::path& templatePrefix, const fs::path& prefixDir)
    : prefix_(fs::absolute(prefixDir)) {
  try {
    ClonePrefix(templatePrefix);
    StartDisplay();
    StartAgent();
  } catch (...) {
    Teardown();
    throw;
  }
}

WineSession::~WineSession() { Teardown(); }

void WineSession::ClonePrefix(const fs::path& templatePrefix) {
  const fs::path from = fs::absolute(templatePrefix);
  if (!fs::exists(from / "system.reg") || !fs::is_directory(from / "drive_c")) {
    throw Error("no template prefix at " + from.string() + " (tools/wine-world.sh makes it)");
  }
  if (!fs::exists(from / "drive_c" / "qx" / "qxagent.exe")) {
    throw Error("the template " + from.string() + " has no C:\\qx\\qxagent.exe (remake it: tools/wine-world.sh)");
  }
  std::error_code error;
  if (fs::exists(prefix_)) {
    const bool earlierPrefix = fs::exists(prefix_ / "system.reg");
    if (!fs::is_directory(prefix_) || (!earlierPrefix && !fs::is_empty(prefix_))) {
      throw Error(prefix_.string() + " exists and is no Wine prefix; it is not replaced");
    }
    // A wineserver still serving the earlier prefix would outlive it.
    if (earlierPrefix) Run({"wineserver", "-k"}, Environment({{"WINEPREFIX", prefix_.string()}}), 10000);
    fs::remove_all(prefix_, error);
    if (error) throw Error("cannot remove the earlier prefix " + prefix_.string() + ": " + error.message());
  }
  fs::create_directories(prefix_, error);
  if (error) throw Error("cannot make " + prefix_.string() + ": " + error.message());
  // Hard links: the files are shared with the template, and a fresh
  // prefix costs milliseconds instead of copying 700 MB. Wine rewrites the
  // registry files, so those are copies.
  fs::copy(from / "drive_c", prefix_ / "drive_c",
           fs::copy_options::recursive | fs::copy_options::create_hard_links | fs::copy_options::copy_symlinks, error);
  if (!error) fs::copy(from / "dosdevices", prefix_ / "dosdevices", fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
  for (const auto& entry : fs::directory_iterator(from)) {
    if (error) break;
    const std::string name = entry.path().filename().string();
    // Without the boot stamp Wine would set the prefix up again (a minute).
    if (entry.is_regular_file() && (entry.path().extension() == ".reg" || name == ".update-timestamp")) {
      fs::copy_file(entry.path(), prefix_ / name, error);
    }
  }
  if (error) throw Error("cannot clone " + from.string() + " into " + prefix_.string() + ": " + error.message());
}

void WineSession::StartDisplay() {
  // Xvfb picks a free display itself (-displayfd) and says which: no race
  // with other sessions or xvfb-run -a looking for one.
  int number[2];
  Pipe(number);
  try {
    xvfb_ = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "640x480x24", "-nolisten", "tcp"}, Environment({}), "",
                  {{0, -1}, {1, -1}, {2, -1}, {3, number[1]}});
  } catch (...) {
    close(number[0]);
    close(number[1]);
    throw;
  }
  close(number[1]);
  std::string text;
  const long long deadline = NowMs() + 10000;
  while (text.find('\n') == std::string::npos) {
    pollfd wait{number[0], POLLIN, 0};
    const long long left = deadline - NowMs();
    if (left <= 0 || poll(&wait, 1, static_cast<int>(left)) <= 0) break;
    char buffer[64];
    const ssize_t got = read(number[0], buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(number[0]);
  const std::size_t digits = text.find_first_not_of("0123456789");
  if (text.empty() || digits == 0 || text[digits] != '\n') {
    throw Error("Xvfb did not start (it said \"" + text + "\"; tools/wine-world.sh installs it)");
  }
  display_ = ":" + text.substr(0, digits);
}

void WineSession::StartAgent() {
  const auto env = Environment({{"WINEPREFIX", prefix_.string()},
                                {"WINEDEBUG", "-all"},
                                {"WINEDLLOVERRIDES", "mscoree,mshtml="},
                                {"DISPLAY", display_}});
  // A wineserver started without this display would make every window
  // fail to open.
  Run({"wineserver", "-k"}, env, 10000);
  int in[2];
  int out[2];
  Pipe(in);
  try {
    Pipe(out);
  } catch (...) {
    close(in[0]);
    close(in[1]);
    throw;
  }
  const fs::path log = prefix_ / "qxagent.log";
  const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  try {
    agent_ = Spawn({"wine", "C:\\qx\\qxagent.exe"}, env, DriveC().string(), {{0, in[0]}, {1, out[1]}, {2, logFd}});
  } catch (...) {
    for (const int fd : {in[0], in[1], out[0], out[1], logFd}) close(fd);
    throw;
  }
  for (const int fd : {in[0], out[1], logFd}) close(fd);
  toAgent_ = in[1];
  fromAgent_ = out[0];
  fcntl(toAgent_, F_SETFL, O_NONBLOCK);
  fcntl(fromAgent_, F_SETFL, O_NONBLOCK);
  // The first start of a prefix can take Wine a while; a clone with its
  // boot stamp starts in well under a second.
  const Response hello = Request({"hello"}, 60000);
  if (!hello.ok || hello.lines.empty() || hello.lines[0].size() != 2 || hello.lines[0][0] != "version") {
    throw Error("the agent did not start: " + (hello.ok ? std::string("no version in its hello") : hello.error) +
                "; its log: " + Tail(log, 2000));
  }
  wineVersion_ = hello.lines[0][1];
}

WineSession::Response WineSession::Break(const std::string& why) {
  if (broken_.empty()) broken_ = why;
  Response response;
  response.error = why;
  return response;
}

bool WineSession::WriteAll(const std::string& bytes, long long deadlineMs) {
  // An agent that has ended would make the write raise SIGPIPE, which
  // ends a program by default: held back here and taken away unseen.
  sigset_t pipeSignal, old, pendingBefore;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
  sigpending(&pendingBefore);
  bool written = true;
  for (std::size_t at = 0; at < bytes.size() && written;) {
    const ssize_t n = write(toAgent_, bytes.data() + at, bytes.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd wait{toAgent_, POLLOUT, 0};
      const long long left = deadlineMs - NowMs();
      written = left > 0 && poll(&wait, 1, static_cast<int>(left)) > 0;
    } else if (!(n < 0 && errno == EINTR)) {
      written = false;
    }
  }
  if (!written && !sigismember(&pendingBefore, SIGPIPE)) {
    const timespec zero{0, 0};
    sigtimedwait(&pipeSignal, nullptr, &zero);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return written;
}

WineSession::Response WineSession::Request(const std::vector<std::string>& fields, int timeoutMs) {
  if (!broken_.empty()) return Break(broken_);
  if (fromAgent_ < 0) return Break("the agent is not running");
  std::string shown = wire::Join(fields);
  if (shown.size() > 200) shown = shown.substr(0, 200) + "…";
  const long long deadline = NowMs() + std::max(timeoutMs, 0);
  if (!WriteAll(wire::Join(fields) + "\n", deadline)) {
    return Break("the agent did not take the request: " + shown);
  }
  Response response;
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      const auto line = wire::Split(std::string_view(pending_).substr(0, end));
      pending_.erase(0, end + 1);
      if (!line) return Break("the agent wrote a line with a broken escape in answer to: " + shown);
      if (line->size() == 1 && (*line)[0] == "ok") {
        response.ok = true;
        return response;
      }
      if ((*line)[0] == "error") {
        response.lines.clear();
        for (std::size_t i = 1; i < line->size(); ++i) response.error += (i > 1 ? "\t" : "") + (*line)[i];
        return response;
      }
      response.lines.push_back(*line);
      continue;
    }
    pollfd wait{fromAgent_, POLLIN, 0};
    const long long left = deadline - NowMs();
    if (left <= 0 || poll(&wait, 1, static_cast<int>(left)) == 0) {
      return Break("the agent did not answer: " + shown);
    }
    char buffer[65536];
    const ssize_t got = read(fromAgent_, buffer, sizeof buffer);
    if (got > 0) {
      pending_.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      const auto status = WaitFor(agent_, 1000);
      if (status) agent_ = -1;
      const std::string how = !status ? "" : WIFEXITED(*status) ? " (exit status " + std::to_string(WEXITSTATUS(*status)) + ")"
                                                               : " (signal " + std::to_string(WTERMSIG(*status)) + ")";
      return Break("the agent ended" + how + " before answering: " + shown);
    }
  }
}

void WineSession::Teardown() noexcept {
  try {
    if (agent_ > 0 && broken_.empty() && toAgent_ >= 0) Request({"quit"}, 2000);
    // Its input's end ends the agent too, if quit could not.
    CloseFd(toAgent_);
    End(agent_, 0, 3000);
    CloseFd(fromAgent_);
    if (!display_.empty()) {
      // Every program of this prefix, and its server, end with it.
      Run({"wineserver", "-k"}, Environment({{"WINEPREFIX", prefix_.string()}}), 10000);
    }
    End(xvfb_, SIGTERM, 3000);
  } catch (...) {
    // A destructor's work: whatever could not be ended has been killed.
  }
}

}  // namespace qx::qxsim
