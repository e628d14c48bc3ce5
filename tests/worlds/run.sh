#!/usr/bin/env bash
# Both worlds: each shipped scenario and the story of every verb, run on
# the simulated device and on the Windows builds under Wine step by step
# (qxsim --world both); then the planted faults found where they show. The
# end-to-end stories run so in tests/e2e/run.sh, one by one. The whole transcript goes
# to build/wine-world/worlds.txt; the differences and the count are shown.
# Usage: bash tests/worlds/run.sh [SCENARIO...]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target qxsim >/dev/null
template=$(bash tools/wine-world.sh | tail -1)
export QX_WINE_TEMPLATE=$template
if [ $# -eq 0 ]; then set -- scenarios/*.qxs tests/worlds/every-verb.qxs; fi
mkdir -p build/wine-world
log=build/wine-world/worlds.txt
started=$(date +%s)
status=0
build/default/tools/qxsim/qxsim --world both "$@" > "$log" 2>&1 || status=$?
grep -e 'the worlds differ' -e 'on Wine: ' -e 'cannot start' "$log" | head -20 || true
if [ $status -ne 0 ]; then
  echo "== the worlds differ; the first difference:"
  sed -n '/the worlds differ\|on Wine: /,/^worlds agree/p' "$log" | head -60
fi
echo "   $(grep -c 'not compared on this world' "$log" || true) steps not compared:"
grep 'not compared on this world' "$log" | sort | uniq -c | sed 's/^/     /' || true
tail -1 "$log"
echo "   in $(( $(date +%s) - started )) s"
[ $status -eq 0 ]
echo "== planted faults"
bash tests/worlds/planted.sh build/default/tools/qxsim/qxsim
