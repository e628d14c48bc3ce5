#!/usr/bin/env bash
# The end-to-end tests: the Windows builds under Wine, each case in a fresh
# Wine prefix of its own inside its own Xvfb session, the registry read back
# with Wine's own tools and compared with what the simulated device's
# scenario runner exports for the same story.
#
# Usage: bash tests/e2e/run.sh [CASE...]    (a name like "settings", or a path;
#                                           default: every tests/e2e/cases/*.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
source tools/deps.sh
qx_need_packages mingw-w64 g++-mingw-w64-x86-64-win32 wine wine64 xvfb xauth fonts-nanum python3

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

cases=()
for case in "$@"; do
  case $case in */*) cases+=("$case") ;; *) cases+=("tests/e2e/cases/${case%.sh}.sh") ;; esac
done
if [ ${#cases[@]} -eq 0 ]; then cases=(tests/e2e/cases/*.sh); fi
failed=()
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
echo "e2e: $(( ${#cases[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
