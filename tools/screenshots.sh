#!/usr/bin/env bash
# Takes the README's screenshots from the current Windows build, under Xvfb
# in a fresh Wine prefix: the tray button over the (stand-in) browser, its
# popup menu, the Settings dialog and the restart notice in Korean. Writes
# docs/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source tools/deps.sh
qx_need_packages wine wine64 xvfb xauth x11-apps fonts-nanum python3
bash tools/build-windows.sh >/dev/null

work=$root/build/screenshots
rm -rf "$work"
mkdir -p "$work" docs
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash tests/e2e/make-prefix.sh "$root/build/win32/bin" > "$work/prefix.log" 2>&1 || { cat "$work/prefix.log"; exit 1; }

# Wine's own fonts have no Hangul: its user-interface fonts are replaced by
# Nanum Gothic (Debian's fonts-nanum), which has both Hangul and Latin, so
# the Korean texts render.
cat > "$work/fonts.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"Tahoma"="NanumGothic"
"MS Shell Dlg"="NanumGothic"
"MS Shell Dlg 2"="NanumGothic"
REG

export QX_E2E_SOURCE=$root/tests/e2e QX_ROOT=$root QX_WORK=$work
xvfb-run -a -s "-screen 0 640x480x24" bash -c '
  set -e
  source "$QX_E2E_SOURCE/lib.sh"
  wineserver -k 2>/dev/null || true
  cd "$WINEPREFIX/drive_c"
  shot() { xwd -root -silent > "$QX_WORK/$1.xwd"; python3 "$QX_ROOT/tools/xwd2png.py" "$QX_WORK/$1.xwd" "$QX_ROOT/docs/$1.png" "$2"; echo "docs/$1.png"; }
  import_reg "$QX_WORK/fonts.reg"
  import_reg "$QX_ROOT/scenarios/connection-manager.reg"
  import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
  import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
  install_client 2002
  start "C:\\Program Files\\Quorvix\\Quorvix.exe"
  start "C:\\windows\\system32\\iexplore.exe"
  drive wait Dialog "Internet Explorer"
  sleep 1
  shot tray-button 240x320+0+0
  drive tap-tray
  drive wait "#32768" ""
  sleep 1
  shot popup-menu 240x320+0+0
  drive menu 1
  drive wait "*" Settings
  drive type Settings 1003 user1
  drive type Settings 1012 secret
  sleep 1
  shot settings-dialog 320x360+0+0
  drive click Settings 1
  drive box Quorvix >/dev/null
  sleep 1
  shot restart-notice 640x340+0+0
  drive answer Quorvix OK
  wineserver -k 2>/dev/null || true
'
