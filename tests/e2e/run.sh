#!/usr/bin/env bash
# The end-to-end tests: the Windows builds under Wine. Each story
# (tests/e2e/cases/*.qxs) runs on both worlds, step by step on the simulated
# device and on the Windows builds (qxsim --world both, a prefix cloned from
# this run's template); each script case (*.sh) runs in a fresh Wine prefix
# of its own inside its own Xvfb session, for what a story cannot tell.
#
# Usage: bash tests/e2e/run.sh [CASE...]    (a name like "settings": its story
#                                           and its script, whichever there
#                                           are; or a path; default: every
#                                           story and every script case)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
source tools/deps.sh
qx_need_packages mingw-w64 g++-mingw-w64-x86-64-win32 wine wine64 xvfb xauth fonts-nanum

echo "== build: windows"
bash tools/build-windows.sh
# The libraries' export tables: exactly these names, undecorated.
exports_of() {
  x86_64-w64-mingw32-objdump -p "$1" |
    awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next } table && NF == 0 { table = 0; done = 1 } table && !done { print $NF }' |
    sort | tr '\n' ' '
}
for expected in "2003/Pranset.dll:Install_Exit Install_Init Uninstall_Exit Uninstall_Init " \
                "system/toolhelp.dll:CloseToolhelp32Snapshot CreateToolhelp32Snapshot Process32FirstW Process32NextW "; do
  file=build/win32/bin/${expected%%:*}
  got=$(exports_of "$file")
  if [ "$got" != "${expected#*:}" ]; then
    echo "== $file exports: $got (expected: ${expected#*:})"
    exit 1
  fi
  echo "   exports of ${expected%%:*}: $got"
done
echo "== build: qxsim, the Wine session's test"
cmake --preset default >/dev/null
cmake --build --preset default --target qxsim wine_session_test >/dev/null

bin=$root/build/win32/bin
work=$root/build/e2e
rm -rf "$work"
mkdir -p "$work"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QX_ROOT=$root QX_QXSIM=$root/build/default/tools/qxsim/qxsim QX_E2E_SOURCE=$root/tests/e2e

echo "== wine: template prefix"
start_time=$(date +%s)
WINEPREFIX=$work/template bash tests/e2e/make-prefix.sh "$bin" > "$work/template.log" 2>&1 ||
  { cat "$work/template.log"; exit 1; }
echo "   made in $(( $(date +%s) - start_time )) s"

stories=()
cases=()
for case in "$@"; do
  case $case in
    *.qxs) stories+=("$case") ;;
    */*) cases+=("$case") ;;
    *)
      name=${case%.sh}; name=${name%.qxs}
      [ -f "tests/e2e/cases/$name.qxs" ] && stories+=("tests/e2e/cases/$name.qxs")
      [ -f "tests/e2e/cases/$name.sh" ] && cases+=("tests/e2e/cases/$name.sh")
      [ -f "tests/e2e/cases/$name.qxs" ] || [ -f "tests/e2e/cases/$name.sh" ] || { echo "no case $case"; exit 2; }
      ;;
  esac
done
if [ $# -eq 0 ]; then stories=(tests/e2e/cases/*.qxs); cases=(tests/e2e/cases/*.sh); fi
failed=()
for story in "${stories[@]}"; do
  name=$(basename "$story" .qxs)
  started=$(date +%s)
  mkdir -p "$work/$name"
  if QX_WINE_TEMPLATE=$work/template timeout 300 "$QX_QXSIM" --world both "$story" > "$work/$name/worlds.txt" 2>&1; then
    echo "   pass  $name.qxs on both worlds ($(( $(date +%s) - started )) s): $(tail -1 "$work/$name/worlds.txt")"
  else
    echo "   FAIL  $name.qxs on both worlds ($(( $(date +%s) - started )) s); what failed:"
    grep -A12 'the worlds differ\|expectation failed\|on Wine: ' "$work/$name/worlds.txt" | head -40 | sed 's/^/        /'
    tail -1 "$work/$name/worlds.txt" | sed 's/^/        /'
    failed+=("$name.qxs")
  fi
done
for case in "${cases[@]}"; do
  name=$(basename "$case" .sh)
  dir=$work/$name
  prefix=$dir/prefix
  mkdir -p "$prefix"
  # A clone of the template: hard links for the files, copies of the
  # registry (which Wine rewrites).
  cp -al "$work/template/drive_c" "$prefix/"
  cp -a "$work/template/dosdevices" "$prefix/"
  cp "$work/template/"*.reg "$prefix/"
  cp "$work/template/.update-timestamp" "$prefix/" 2>/dev/null || true
  started=$(date +%s)
  if WINEPREFIX=$prefix QX_CASE=$root/$case QX_CASE_DIR=$dir \
     timeout 300 xvfb-run -a -s "-screen 0 640x480x24" \
       bash -c 'source "$QX_E2E_SOURCE/lib.sh"; wineserver -k 2>/dev/null || true
                # Programs start on drive C:, where handheld paths
                # ("\Program Files\...") then lead.
                cd "$WINEPREFIX/drive_c"
                boot_device
                # (Not "|| status=$?": a tested subshell would ignore set -e.)
                ( set -e; source "$QX_CASE" ); status=$?
                wineserver -k 2>/dev/null || true; exit $status' > "$dir/log.txt" 2>&1; then
    echo "   pass  $name ($(( $(date +%s) - started )) s)"
  else
    echo "   FAIL  $name ($(( $(date +%s) - started )) s); its log:"
    sed 's/^/        /' "$dir/log.txt"
    failed+=("$name")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "== e2e: failed: ${failed[*]}"
fi
echo "e2e: $(( ${#stories[@]} + ${#cases[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
