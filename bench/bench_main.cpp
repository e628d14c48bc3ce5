// The benchmarks: the password digest against OpenSSL's MD5 over the same
// buffers in the same run, the tray client's steady poll tick, and the
// gateway switch over growing numbers of provider entries.
//
// After the runs a table gives, for each message size, how many times
// OpenSSL's time the digest takes (ratio = OpenSSL's time / ours: 1.0 or
// more means ours is at least as fast).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/instructions.h"
#include "bench/stages.h"
#include "client/md5.h"

namespace {

// Every allocation in the process, on any thread: a steady tick should make
// none.
std::atomic<std::size_t> gAllocations{0};

}  // namespace

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace qx::bench {
namespace {

constexpr std::size_t kDigestSizes[] = {0, 16, 64, 256, 1024, 16 * 1024, 1024 * 1024};

std::vector<std::uint8_t> Message(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t x = 2463534242u;
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x);
  }
  return bytes;
}

void DigestOurs(benchmark::State& state, std::size_t size) {
  const std::vector<std::uint8_t> message = Message(size);
  for (auto _ : state) benchmark::DoNotOptimize(Md5(message));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// OpenSSL at its best: the algorithm fetched once and one context reused, so
// each message pays only for init, update and final.
void DigestOpenSsl(benchmark::State& state, std::size_t size) {
  const std::vector<std::uint8_t> message = Message(size);
  EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  for (auto _ : state) {
    EVP_DigestInit_ex(context, md, nullptr);
    EVP_DigestUpdate(context, message.data(), message.size());
    EVP_DigestFinal_ex(context, digest, &length);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_CTX_free(context);
  EVP_MD_free(md);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// Per-iteration figures that the clock does not give: platform calls, and
// instructions where the hardware counts them.
class Tally {
 public:
  Tally(sim::SimDevice& device) : device_(device) {}
  void Start() {
    calls_ = device_.ledger().Total();
    registry_ = device_.ledger().RegistryCount();
    allocations_ = gAllocations.load();
    if (counter_.Available()) instructions_ = counter_.Read();
  }
  void Stop(benchmark::State& state, double per) {
    const double n = static_cast<double>(state.iterations()) * per;
    state.counters["calls"] = static_cast<double>(device_.ledger().Total() - calls_) / n;
    state.counters["registry"] = static_cast<double>(device_.ledger().RegistryCount() - registry_) / n;
    state.counters["allocs"] = static_cast<double>(gAllocations.load() - allocations_) / n;
    if (counter_.Available()) state.counters["instr"] = static_cast<double>(counter_.Read() - instructions_) / n;
  }

 private:
  sim::SimDevice& device_;
  InstructionCounter counter_;
  std::size_t calls_ = 0, registry_ = 0, allocations_ = 0;
  std::uint64_t instructions_ = 0;
};

// Figures per steady tick.
void PollTick(benchmark::State& state) {
  PollStage stage;
  Tally tally(stage.device());
  tally.Start();
  for (auto _ : state) stage.Tick();
  tally.Stop(state, 1);
}

// Figures per provider entry of one switch on and off.
void GatewaySwitch(benchmark::State& state) {
  const auto entries = static_cast<std::size_t>(state.range(0));
  SwitchStage stage(entries);
  stage.SwitchOnAndOff();  // settle the registry's own storage
  Tally tally(stage.device());
  tally.Start();
  for (auto _ : state) stage.SwitchOnAndOff();
  tally.Stop(state, static_cast<double>(entries));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * entries));
}

// Keeps the fastest processor time of each benchmark for the ratio table:
// on a shared machine the wall clock counts other people's work, and the
// fastest of several repetitions is the one least disturbed.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only for a terminal: figures copied from a file stay plain.
  RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const double time = run.GetAdjustedCPUTime();
      auto [it, added] = best_.emplace(run.run_name.function_name, time);
      if (!added && time < it->second) it->second = time;
    }
  }

  void PrintRatios() const {
    std::printf("\n%10s %14s %14s %8s\n", "bytes", "digest ns cpu", "OpenSSL ns cpu", "ratio");
    for (std::size_t size : kDigestSizes) {
      const auto ours = best_.find("digest/qx/" + std::to_string(size));
      const auto theirs = best_.find("digest/openssl/" + std::to_string(size));
      if (ours == best_.end() || theirs == best_.end()) continue;
      std::printf("%10zu %14.1f %14.1f %8.2f\n", size, ours->second, theirs->second, theirs->second / ours->second);
    }
  }

 private:
  std::map<std::string, double> best_;
};

void Register() {
  for (std::size_t size : kDigestSizes) {
    benchmark::RegisterBenchmark(("digest/qx/" + std::to_string(size)).c_str(), DigestOurs, size);
    benchmark::RegisterBenchmark(("digest/openssl/" + std::to_string(size)).c_str(), DigestOpenSsl, size);
  }
  benchmark::RegisterBenchmark("poll/steady-tick", PollTick);
  benchmark::RegisterBenchmark("switch/entries", GatewaySwitch)->Arg(1)->Arg(16)->Arg(64)->Arg(256);
}

}  // namespace
}  // namespace qx::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  qx::bench::Register();
  const qx::bench::InstructionCounter probe;
  if (!probe.Available()) {
    std::printf("instructions: no hardware counter (%s); bash bench/count-instructions.sh counts them\n",
                probe.Why().c_str());
  }
  qx::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
