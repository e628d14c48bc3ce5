#!/usr/bin/env bash
# Builds everything and runs every test: once as built, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the benchmarks'
# checks (the digest against OpenSSL, a switch's cost per entry); the road's
# storyboard in headless Chromium (tests/storyboard/run.sh); qxsim serve's
# page used in headless Chromium (tests/serve/run.sh); the fault and
# kill sweep over every shipped scenario on the sanitized build; then the Windows
# builds with what they are made of (tools/size-table.sh) and their end-to-end
# tests under Wine, the stories told on both worlds step by step
# (tests/e2e/run.sh); every shipped scenario on both worlds, and the planted
# faults (tests/worlds/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
qx_need_packages libbenchmark-dev libssl-dev valgrind
jobs=$(nproc 2>/dev/null || echo 2)
for preset in default sanitize bench; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== test: $preset"
  ctest --preset "$preset" -j "$jobs"
done
echo "== storyboard: the road's storyboard in headless Chromium"
bash tests/storyboard/run.sh
echo "== serve: the handheld's page used in headless Chromium"
bash tests/serve/run.sh
echo "== sweep: every platform call failed and every program ended abruptly, sanitized"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build/sanitize/tools/qxsim/qxsim sweep scenarios/*.qxs
echo "== sizes: the Windows deliverables built, by origin (tools/size-table.sh)"
bash tools/size-table.sh | sed -n '/^bytes by origin/,$p'
echo "== end-to-end: Windows builds under Wine"
bash tests/e2e/run.sh
echo "== both worlds: every shipped scenario on the simulated device and under Wine, step by step"
bash tests/worlds/run.sh
