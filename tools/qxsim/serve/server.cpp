#include "tools/qxsim/serve/server.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <charconv>
#include <mutex>
#include <ostream>
#include <random>
#include <thread>

#include "tools/qxsim/serve/wire.h"
#include "tools/qxsim/verbs.h"

namespace qx::qxsim {

// The page's parts, from page.html, page.css and page.js (page_asset.cpp.in).
extern const char kPageHtml[];
extern const char kPageCss[];
extern const char kPageJs[];

namespace {

constexpr std::string_view kTokenHeader = "X-Qxsim-Token";

std::string PageText() {
  std::string page = kPageHtml;
  for (const auto& [mark, part] : {std::pair<std::string_view, const char*>{"/*STYLE*/", kPageCss}, {"/*SCRIPT*/", kPageJs}}) {
    const std::size_t at = page.find(mark);
    if (at != std::string::npos) page.replace(at, mark.size(), part);
  }
  return page;
}

// A decimal count, nothing else: "12", not "+12", "0x1", "12a" or "".
std::optional<std::size_t> Count(std::string_view text) {
  std::size_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void Text(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

}  // namespace

std::string NewToken() {
  std::random_device source;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(source()));
    token += part;
  }
  return token;
}

bool SameToken(std::string_view given, std::string_view token) {
  // Every byte of the token is looked at whatever the given one holds.
  unsigned difference = given.size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < token.size(); ++i) {
    difference |= static_cast<unsigned char>(token[i]) ^ static_cast<unsigned char>(i < given.size() ? given[i] : 0);
  }
  return difference == 0 && !token.empty();
}

struct Server::Impl {
  Impl(Session& s, std::string t) : session(s), token(std::move(t)), page(PageText()) {}

  // Requests come on many threads; the device takes one at a time.
  std::mutex mutex;
  Session& session;
  const std::string token;
  const std::string page;
  int port = -1;
  httplib::Server http;

  bool Allowed(const httplib::Request& req) const {
    const std::string host = req.get_header_value("Host");
    const std::string own = ":" + std::to_string(port);
    if (req.get_header_value_count("Host") != 1 || (host != "127.0.0.1" + own && host != "localhost" + own)) {
      return false;
    }
    if (req.get_header_value_count(std::string(kTokenHeader)) == 1) {
      return SameToken(req.get_header_value(std::string(kTokenHeader)), token);
    }
    // A browser opens the page from its address, which can carry no header.
    return req.method == "GET" && req.path == "/" && req.get_param_value_count("token") == 1 &&
           SameToken(req.get_param_value("token"), token);
  }

  void Routes() {
    http.set_payload_max_length(kMaxRequestBody);
    // A browser keeps its connection: taking many requests on one saves a
    // connection per step; an idle one goes soon, so stopping is quick.
    http.set_keep_alive_max_count(1000);
    // An answer goes out in more than one write: waiting to fill a packet
    // would hold each one until the peer acknowledges the last.
    http.set_tcp_nodelay(true);
    http.set_keep_alive_timeout(1);
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      res.set_header("Cache-Control", "no-store");
      res.set_header("X-Content-Type-Options", "nosniff");
      if (Allowed(req)) return httplib::Server::HandlerResponse::Unhandled;
      Text(res, 403, "forbidden: this device answers only its own page (its address and token)\n");
      return httplib::Server::HandlerResponse::Handled;
    });
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& res) {
          if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
          Text(res, res.status,
               res.status == 404   ? "not found\n"
               : res.status == 413 ? "a request body is at most 64 KiB\n"
                                   : "bad request\n");
          return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
      Text(res, 500, "the server failed to answer\n");
    });

    http.Get("/", [this](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Security-Policy",
                     "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:; "
                     "connect-src 'self'; form-action 'none'; frame-ancestors 'none'");
      res.set_content(page, "text/html; charset=utf-8");
    });
    http.Get("/story", [this](const httplib::Request&, httplib::Response& res) {
      const std::lock_guard lock(mutex);
      res.set_content(StoryJson(session), "application/json");
    });
    http.Post("/steps", [this](const httplib::Request& req, httplib::Response& res) {
      if (req.body.size() > kMaxRequestBody) return Text(res, 413, "a request body is at most 64 KiB\n");
      const std::lock_guard lock(mutex);
      std::string error;
      if (!session.Step(req.body, &error)) return Text(res, 400, error);
      res.set_content(StepJson(session), "application/json");
    });
    http.Post("/rewind", [this](const httplib::Request& req, httplib::Response& res) {
      const std::lock_guard lock(mutex);
      const auto to = Count(req.get_param_value("to"));
      if (req.get_param_value_count("to") != 1 || !to || !session.Rewind(*to)) {
        return Text(res, 400, "to=N: N is a step from 0 to " + std::to_string(session.lines().size()) + "\n");
      }
      res.set_content(PlaceJson(session), "application/json");
    });
    http.Get("/scenario", [this](const httplib::Request&, httplib::Response& res) {
      const std::lock_guard lock(mutex);
      const std::string name = session.Name();
      // The name is the scenario's own file name: keep it to plain characters.
      std::string safe;
      for (char c : name) safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_') ? c : '_';
      res.set_header("Content-Disposition", "attachment; filename=\"" + safe + "\"");
      res.set_content(session.Scenario(), "text/plain; charset=utf-8");
    });
    http.Get("/transcript", [this](const httplib::Request&, httplib::Response& res) {
      const std::lock_guard lock(mutex);
      res.set_content(session.Transcript(), "text/plain; charset=utf-8");
    });
    http.Get("/registry", [this](const httplib::Request& req, httplib::Response& res) {
      const std::lock_guard lock(mutex);
      std::string why;
      const auto view = RegistryView(session.runner().device().registry(), req.get_param_value("key"), &why);
      if (!view) return Text(res, 404, why + "\n");
      res.set_content(*view, "text/plain; charset=utf-8");
    });
  }
};

Server::Server(Session& session, std::string token) : impl_(std::make_unique<Impl>(session, std::move(token))) {
  impl_->Routes();
}

Server::~Server() = default;

int Server::Bind(int port) {
  // Only this machine's own programs can reach it.
  if (port == 0) {
    impl_->port = impl_->http.bind_to_any_port("127.0.0.1");
  } else {
    impl_->port = impl_->http.bind_to_port("127.0.0.1", port) ? port : -1;
  }
  return impl_->port;
}

void Server::Run() { impl_->http.listen_after_bind(); }

void Server::Stop() { impl_->http.stop(); }

std::string Server::Address() const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + "/?token=" + impl_->token;
}

int Serve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string usage = "usage: qxsim serve [--port N] [SCENARIO]\n";
  int port = 0;
  std::filesystem::path scenario;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--port" && i + 1 < args.size()) {
      const auto n = Count(args[++i]);
      if (!n || *n > 65535) {
        err << usage;
        return 2;
      }
      port = static_cast<int>(*n);
    } else if (scenario.empty() && !args[i].starts_with("-")) {
      scenario = args[i];
    } else {
      err << usage;
      return 2;
    }
  }
  // Interruptions are taken by one thread of ours, before any other starts
  // (the device's programs and the server's workers inherit the mask).
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  const std::filesystem::path folder = std::filesystem::current_path();
  std::string text;
  std::filesystem::path file;
  if (scenario.empty()) {
    file = folder / "scenarios" / "session.qxs";
    if (!std::filesystem::exists(folder / "scenarios" / "pocket-pc-2002-device.reg")) {
      err << "qxsim serve: the shipped device files are not in ./scenarios: start it in the repository's root, or "
             "name a scenario\n";
      return 2;
    }
    text = FreshDeviceOpening();
  } else {
    bool ok = false;
    text = ReadFile(scenario, &ok);
    if (!ok) {
      err << "qxsim serve: cannot read " << scenario.string() << "\n";
      return 2;
    }
    file = scenario;
  }
  Session session(file, folder);
  if (std::string error; !session.Open(text, &error)) {
    err << error << "\n";
    return 1;
  }
  Server server(session, NewToken());
  if (server.Bind(port) < 0) {
    err << "qxsim serve: cannot listen on 127.0.0.1:" << port << "\n";
    return 2;
  }
  out << server.Address() << "\n"
      << session.Name() << " at step " << session.position() << "; host files only inside " << folder.string()
      << "; Ctrl-C ends it\n"
      << std::flush;

  std::atomic<bool> interrupted{false};
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    interrupted = true;
    // A stop that comes before the server listens would be lost: ask again
    // until it has ended.
    while (!done) {
      server.Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  server.Run();
  done = true;
  if (!interrupted) pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return 0;
}

}  // namespace qx::qxsim
