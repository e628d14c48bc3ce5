// qxsim serve: the simulated handheld as a page in a local browser, the
// story of its use kept as a scenario. The server listens on 127.0.0.1
// only and answers only requests that carry its token (header
// X-Qxsim-Token; the page itself may take it from the address) and name it
// by its own address as Host, so other pages the browser shows can neither
// read the device nor drive it.
//
//   GET  /               the page
//   GET  /story          every kept line with what it showed, and the screen (JSON)
//   POST /steps          body: one scenario line; runs it (JSON), or 400 "line N: message"
//   POST /rewind?to=N    back to the state after line N (JSON)
//   GET  /scenario       the lines up to the current step, as a scenario file
//   GET  /transcript     their transcript, as qxsim prints it for that file
//   GET  /registry?key=K a key and everything below it (the whole registry without K)
//
// A body over 64 KiB gets 413, a path not listed 404; none changes anything.
#pragma once

#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qxsim/serve/session.h"

namespace qx::qxsim {

inline constexpr std::size_t kMaxRequestBody = 64 * 1024;

// 128 random bits from the system's source, in hex.
std::string NewToken();
// Whether two tokens are equal, in a time that does not tell how much of
// them matched.
bool SameToken(std::string_view given, std::string_view token);

class Server {
 public:
  // Serves `session`, which must outlive the server.
  Server(Session& session, std::string token);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds 127.0.0.1:port (0: a free port): the port, or -1.
  int Bind(int port);
  // Answers requests until Stop() (from any thread).
  void Run();
  void Stop();
  // "http://127.0.0.1:PORT/?token=TOKEN": what to open.
  [[nodiscard]] std::string Address() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// `qxsim serve [--port N] [SCENARIO]`: serves until interrupted. Host
// files stay inside the current folder; without a scenario the story
// begins on a fresh device with the shipped device files of ./scenarios.
int Serve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qx::qxsim
