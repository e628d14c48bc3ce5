// The Wine world's transport: one scenario's prefix, its X server and the
// agent inside it (tools/qxagent), talked to one request at a time. POSIX
// only; not safe to share between threads.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qx::qxsim {

// One scenario's Wine world: a fresh prefix cloned from a template, Xvfb,
// the agent.
class WineSession {
 public:
  // The agent's answer: its data lines (fields unescaped), then ok or the
  // error's message. A session that failed answers every later request
  // with an error at once.
  struct Response {
    bool ok = false;
    std::vector<std::vector<std::string>> lines;
    std::string error;
  };

  // Clones `templatePrefix` into `prefixDir` (drive_c as hard links, copies
  // of the *.reg files, dosdevices and .update-timestamp; `prefixDir` must
  // be missing, empty or an earlier prefix), starts Xvfb on a display it
  // picks itself, ends any wineserver of the prefix, then starts
  // `wine C:\qx\qxagent.exe` in prefix/drive_c with WINEPREFIX set,
  // WINEDEBUG=-all and WINEDLLOVERRIDES="mscoree,mshtml=", and waits for
  // its hello. Throws std::runtime_error saying what failed; nothing it
  // started is left running then.
  //
  // The files of drive_c are the template's own until replaced: put files
  // that a program changes in place as fresh copies.
  WineSession(const std::filesystem::path& templatePrefix, const std::filesystem::path& prefixDir);
  // Asks the agent to quit, ends the prefix's wineserver (`wineserver -k`,
  // this prefix only), ends Xvfb and reaps every child; never throws.
  ~WineSession();
  WineSession(const WineSession&) = delete;
  WineSession& operator=(const WineSession&) = delete;

  // One request: the fields escaped and joined, the response parsed. No
  // answer within timeoutMs gives an error response ("the agent did not
  // answer: REQUEST") and breaks the session, as do the agent's end and a
  // line it could not have meant.
  Response Request(const std::vector<std::string>& fields, int timeoutMs = 10000);

  const std::filesystem::path& Prefix() const { return prefix_; }
  std::filesystem::path DriveC() const { return prefix_ / "drive_c"; }
  const std::string& WineVersion() const { return wineVersion_; }
  // Why the session no longer answers, or empty.
  const std::string& Broken() const { return broken_; }
  // The X display the programs show on (":N").
  const std::string& Display() const { return display_; }

  // The template of this run: $QX_WINE_TEMPLATE, else build/wine-world/template
  // under the source tree (made by tools/wine-world.sh).
  static std::filesystem::path DefaultTemplate(const std::filesystem::path& sourceRoot);

 private:
  void ClonePrefix(const std::filesystem::path& templatePrefix);
  void StartDisplay();
  void StartAgent();
  void Teardown() noexcept;
  Response Break(const std::string& why);
  bool WriteAll(const std::string& bytes, long long deadlineMs);

  std::filesystem::path prefix_;
  std::string display_;
  std::string wineVersion_;
  std::string broken_;
  pid_t xvfb_ = -1;
  pid_t agent_ = -1;
  int toAgent_ = -1;
  int fromAgent_ = -1;
  std::string pending_;  // bytes read past the last answer's end
};

}  // namespace qx::qxsim
