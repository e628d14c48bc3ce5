#!/usr/bin/env bash
# Builds everything and runs every test: once as built, once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
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
