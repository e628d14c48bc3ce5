#!/usr/bin/env bash
# Builds and runs the benchmarks (preset "bench": optimised as the default
# build), then counts instructions under callgrind.
#
# Usage: bash bench/run.sh [Google Benchmark options, e.g. --benchmark_filter=digest]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
qx_need_packages libbenchmark-dev libssl-dev valgrind
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2 >/dev/null
echo "== $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
build/bench/bench/qx_bench --benchmark_repetitions=3 --benchmark_min_time=0.2 "$@"
echo
QX_BENCH_COUNT=build/bench/bench/qx_bench_count bash bench/count-instructions.sh
