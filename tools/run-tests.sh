#!/usr/bin/env bash
# Builds everything and runs every test: once as built, once under
# AddressSanitizer and UndefinedBehaviorSanitizer; then the Windows builds
# and their end-to-end tests under Wine (tests/e2e/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
for preset in default sanitize; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== test: $preset"
  ctest --preset "$preset" -j "$jobs"
done
echo "== end-to-end: Windows builds under Wine"
bash tests/e2e/run.sh
