// qxsim serve over HTTP on this machine, as the page uses it: each step of
// the road from request to response (the step, its screen and what a tap
// does where), and going back to step 60 of the road.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tools/qxsim/serve/server.h"

namespace qx::bench {
namespace {

namespace fs = std::filesystem;
const fs::path kRoad = fs::path(QX_SCENARIO_DIR) / "road.qxs";
constexpr const char* kToken = "00000000000000000000000000000000";

std::string Road() {
  std::ifstream in(kRoad, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A served story and a client that keeps its connection, as a browser does.
class Served {
 public:
  explicit Served(const std::string& opening) {
    std::string error;
    if (!session_.Open(opening, &error)) throw std::runtime_error(error);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_.Bind(0));
    client_->set_keep_alive(true);
    client_->set_tcp_nodelay(true);
    thread_ = std::thread([this] { server_.Run(); });
  }
  ~Served() {
    client_.reset();
    server_.Stop();
    thread_.join();
  }
  Served(const Served&) = delete;
  Served& operator=(const Served&) = delete;

  [[nodiscard]] std::size_t Lines() const { return session_.lines().size(); }

  // The request's time from sending to the whole answer, in milliseconds.
  double Post(benchmark::State& state, const std::string& path, const std::string& body) {
    const auto start = std::chrono::steady_clock::now();
    const auto result = client_->Post(path.c_str(), {{"X-Qxsim-Token", kToken}}, body, "text/plain");
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (!result || result->status != 200) state.SkipWithError(("refused: " + path + " " + body).c_str());
    return took.count();
  }

 private:
  qxsim::Session session_{kRoad, kRoad.parent_path()};
  qxsim::Server server_{session_, kToken};
  std::unique_ptr<httplib::Client> client_;
  std::thread thread_;
};

// The road's lines, each a request, from a fresh device.
void RoadStep(benchmark::State& state) {
  Served served("");
  std::vector<std::string> lines;
  std::istringstream road(Road());
  for (std::string line; std::getline(road, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  double total = 0;
  double worst = 0;
  std::size_t steps = 0;
  for (auto _ : state) {
    state.PauseTiming();
    served.Post(state, "/rewind?to=0", "");
    state.ResumeTiming();
    for (const std::string& line : lines) {
      const double ms = served.Post(state, "/steps", line);
      total += ms;
      worst = std::max(worst, ms);
      ++steps;
    }
  }
  state.counters["steps"] = static_cast<double>(lines.size());
  state.counters["mean_ms"] = steps == 0 ? 0 : total / static_cast<double>(steps);
  state.counters["worst_ms"] = worst;
}
BENCHMARK(RoadStep)->Name("serve/road-step")->Unit(benchmark::kMillisecond);

// From the road's end back to its line 60: a fresh device replays 60 lines.
void BackToStep60(benchmark::State& state) {
  Served served(Road());
  const std::string toTheEnd = "/rewind?to=" + std::to_string(served.Lines());
  double worst = 0;
  for (auto _ : state) {
    state.PauseTiming();
    served.Post(state, toTheEnd, "");
    state.ResumeTiming();
    worst = std::max(worst, served.Post(state, "/rewind?to=60", ""));
  }
  state.counters["worst_ms"] = worst;
}
BENCHMARK(BackToStep60)->Name("serve/back-to-60")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qx::bench
