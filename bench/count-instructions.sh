#!/usr/bin/env bash
# Instructions per provider entry of a gateway switch (on and off) and per
# steady poll tick, counted by callgrind: exact and repeatable, for machines
# whose processor offers no performance counters to programs.
#
# Usage: bash bench/count-instructions.sh [--check]
#   --check  fails unless a switch over 256 entries costs at most 20% more
#            instructions per entry than one over 4.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
qx_need_packages valgrind
bin=${QX_BENCH_COUNT:-build/bench/bench/qx_bench_count}
if [ -z "${QX_BENCH_COUNT:-}" ]; then
  qx_need_packages libbenchmark-dev libssl-dev
  cmake --preset bench >/dev/null
  cmake --build --preset bench --target qx_bench_count >/dev/null
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out/cg" "$bin" >/dev/null 2>"$out/log" ||
  { cat "$out/log"; exit 1; }
# Each dump: "desc: Trigger: Client Request: LABEL UNITS" and "totals: IR".
for dump in "$out"/cg.*; do
  awk '/^desc: Trigger: Client Request:/ { label = $5; units = $6 }
       /^totals:/ { printf "%s %d %.0f\n", label, units, $2 / units }' "$dump"
done | sort -t/ -k2n > "$out/table"
printf '%-20s %14s\n' "section" "instr per unit"
awk '{ printf "%-20s %14d\n", $1, $3 }' "$out/table"
if [ "${1:-}" = "--check" ]; then
  awk '$1 == "switch/4" { small = $3 } $1 == "switch/256" { large = $3 }
       END { if (small == 0 || large == 0) { print "missing sections"; exit 1 }
             ratio = large / small
             printf "per entry, 256 against 4: %.2f\n", ratio
             exit ratio <= 1.2 ? 0 : 1 }' "$out/table"
fi
