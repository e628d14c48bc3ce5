#!/usr/bin/env bash
# What each Windows deliverable is made of: builds them (tools/build-windows.sh,
# its output on stderr), then prints, per binary, its bytes by object and
# section and, last, one table of every binary's bytes by origin (the one
# the README shows).
#
# Usage: bash tools/size-table.sh [--no-build] [--objects] [--only EDITION/FILE]...
#   --no-build   use build/win32 as it is
#   --objects    list every object, not only those of 512 bytes or more
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
qx_need_packages python3
if [ "${1:-}" = "--no-build" ]; then
  shift
else
  bash tools/build-windows.sh >&2
fi
python3 tools/size_table.py build/win32 "$@"
