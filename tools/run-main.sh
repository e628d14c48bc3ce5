#!/usr/bin/env bash
# The main job: builds the scenario runner and runs the road of one typical
# use on a fresh simulated handheld, printing its transcript; with --html,
# also writes the storyboard page; with --serve, serves the device live in a
# local browser instead (qxsim serve, in the repository's root: its host files
# stay there); with --world both, runs the road on the simulated device and on
# the Windows builds under Wine step by step (qxsim --world).
# Usage: bash tools/run-main.sh [--html FILE.html] [SCENARIO...]   (default: scenarios/road.qxs;
# scenarios are named from the repository's root, the page from the caller's folder)
#        bash tools/run-main.sh --serve [--port N] [SCENARIO]     (default: a fresh device)
#        bash tools/run-main.sh --world wine|both [SCENARIO...]   (default: scenarios/road.qxs)
set -euo pipefail
html=()
if [ "${1:-}" = "--serve" ]; then
  shift
  cd "$(dirname "$0")/.."
  source tools/deps.sh
  cmake --preset default >/dev/null
  cmake --build --preset default --target qxsim >/dev/null
  exec build/default/tools/qxsim/qxsim serve "$@"
fi
if [ "${1:-}" = "--world" ]; then
  [ $# -ge 2 ] || { echo "usage: bash tools/run-main.sh --world wine|both [SCENARIO...]" >&2; exit 2; }
  world=$2
  shift 2
  cd "$(dirname "$0")/.."
  source tools/deps.sh
  cmake --preset default >/dev/null
  cmake --build --preset default --target qxsim >/dev/null
  # The Windows builds and the template prefix the Wine world clones.
  QX_WINE_TEMPLATE=$(bash tools/wine-world.sh | tail -1)
  export QX_WINE_TEMPLATE
  if [ $# -eq 0 ]; then set -- scenarios/road.qxs; fi
  exec build/default/tools/qxsim/qxsim --world "$world" "$@"
fi
if [ "${1:-}" = "--html" ]; then
  [ $# -ge 2 ] || { echo "usage: bash tools/run-main.sh [--html FILE.html] [SCENARIO...]" >&2; exit 2; }
  # The page goes where the caller asked, relative to the caller's folder.
  case "$2" in /*) html=(--html "$2") ;; *) html=(--html "$PWD/$2") ;; esac
  shift 2
fi
cd "$(dirname "$0")/.."
source tools/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target qxsim >/dev/null
if [ $# -eq 0 ]; then set -- scenarios/road.qxs; fi
exec build/default/tools/qxsim/qxsim "${html[@]}" "$@"
