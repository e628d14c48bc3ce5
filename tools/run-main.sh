#!/usr/bin/env bash
# The main job: builds the scenario runner and runs the road of one typical
# use on a fresh simulated handheld, printing its transcript.
# Usage: bash tools/run-main.sh [SCENARIO...]   (default: scenarios/road.qxs)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target qxsim >/dev/null
if [ $# -eq 0 ]; then set -- scenarios/road.qxs; fi
exec build/default/tools/qxsim/qxsim "$@"
