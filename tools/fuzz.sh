#!/usr/bin/env bash
# tools/fuzz.sh TARGET SECONDS: builds the fuzz targets with clang and
# libFuzzer (preset "fuzz", into build/fuzz) and fuzzes one target for that
# long, at low priority. It starts from the committed corpus
# (tests/fuzz/corpus/TARGET) and the repository's own files of the target's
# kind, and adds what it finds to build/fuzz/corpus/TARGET, never to the
# committed corpus. A crash or a broken property is saved, minimised, in
# build/fuzz/crashes/TARGET/. Targets: reg_import reg_export scenario
# playlist user_agent password serve.
set -euo pipefail
cd "$(dirname "$0")/.."
targets="reg_import reg_export scenario playlist user_agent password serve"
if [ $# -ne 2 ] || ! [[ " $targets " == *" $1 "* ]] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: tools/fuzz.sh TARGET SECONDS   (TARGET: ${targets// /, })" >&2
  exit 2
fi
target=$1
seconds=$2
source tools/deps.sh
qx_need_packages clang libclang-rt-dev

cmake --preset fuzz >/dev/null
nice -n 10 cmake --build --preset fuzz -j 2 --target "fuzz_$target"

corpus=build/fuzz/corpus/$target
crashes=build/fuzz/crashes/$target
mkdir -p "$corpus" "$crashes"
# The repository's own files of the target's kind seed the scratch corpus.
case $target in
  reg_import) cp scenarios/*.reg tests/e2e/cases/*.reg "$corpus"/ ;;
  scenario | serve) cp scenarios/*.qxs "$corpus"/ ;;
esac
options=(-max_total_time="$seconds" -timeout=30 -print_final_stats=1 -artifact_prefix="$crashes"/)
[ -f "tests/fuzz/$target.dict" ] && options+=(-dict="tests/fuzz/$target.dict")

program=build/fuzz/tests/fuzz/fuzz_$target
status=0
nice -n 10 "$program" "${options[@]}" "$corpus" "tests/fuzz/corpus/$target" 2>&1 | tee "build/fuzz/$target.log" || status=$?
for crash in "$crashes"/crash-* "$crashes"/timeout-* "$crashes"/leak-* "$crashes"/oom-*; do
  [ -f "$crash" ] || continue
  case $crash in *.min) continue ;; esac
  [ -f "$crash.min" ] && continue
  echo "== minimising $crash"
  nice -n 10 "$program" -minimize_crash=1 -max_total_time=60 -exact_artifact_path="$crash.min" "$crash" >/dev/null 2>&1 || true
  [ -f "$crash.min" ] || cp "$crash" "$crash.min"
done
echo "== $target: $(grep -o 'number_of_executed_units: [0-9]*' "build/fuzz/$target.log" | tail -1)," \
  "corpus $(find "$corpus" -type f | wc -l) files in $corpus"
ls "$crashes" | grep -q . && echo "== findings in $crashes:" && ls "$crashes"
exit "$status"
