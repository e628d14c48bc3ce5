#!/usr/bin/env bash
# Makes the template Wine prefix of a run ($WINEPREFIX): a fresh prefix with
# the programs under test in C:\qx and C:\Program Files\Quorvix, and the
# stand-ins where the handheld keeps its own programs.
# Usage: make-prefix.sh WINDOWS_BIN_DIR
set -euo pipefail
bin=$1
xvfb-run -a sh -c 'wineboot -i; wineserver -w'
c=$WINEPREFIX/drive_c
sys=$c/windows/system32
# The browser and the Connection Manager are started by name, so they go
# where the system keeps its own programs (replacing Wine's browser). The
# players are started by their handheld paths.
install -m 755 "$bin/tests/standin.exe" "$sys/iexplore.exe"
install -m 755 "$bin/tests/standin.exe" "$c/Program Files/Internet Explorer/iexplore.exe"
install -m 755 "$bin/tests/standin.exe" "$sys/connmgr.exe"
install -m 755 "$bin/tests/standin.exe" "$c/windows/wmplayer.exe"
mkdir -p "$c/Program Files/Windows Media Player 8"
install -m 755 "$bin/tests/standin.exe" "$c/Program Files/Windows Media Player 8/player.exe"
# The handheld's process-list library, as the programs look for it.
install -m 644 "$bin/system/toolhelp.dll" "$sys/toolhelp.dll"
# The dial-up library that reports the connections a case sets up (Wine's
# own never reports any), in place of Wine's.
install -m 644 "$bin/tests/rasapi32.dll" "$sys/rasapi32.dll"
mkdir -p "$c/qx/2002" "$c/qx/2003" "$c/Temp"
install -m 755 "$bin/tests/qxdrive.exe" "$bin/tests/qxagent.exe" "$bin/tests/qxmenuhook.dll" "$bin/tests/qxinstall.exe" "$bin/tests/backendcheck.exe" "$bin/tests/runtimecheck.exe" "$bin/tests/farewell.dll" "$c/qx/"
# The observed builds, for the scenario runner's Wine world (tools/qxsim),
# and what it restores or copies: the toolhelp library, the stand-in.
mkdir -p "$c/qx/observed/2002" "$c/qx/observed/2003"
install -m 755 "$bin/observed/2002/Quorvix.exe" "$bin/observed/2002/stv.exe" "$c/qx/observed/2002/"
install -m 755 "$bin/observed/2003/Quorvix2003.exe" "$bin/observed/2003/stv.exe" "$bin/observed/2003/Pranset.dll" "$c/qx/observed/2003/"
install -m 644 "$bin/system/toolhelp.dll" "$c/qx/toolhelp.dll"
install -m 755 "$bin/tests/standin.exe" "$c/qx/standin.exe"
install -m 755 "$bin/2002/Quorvix.exe" "$bin/2002/stv.exe" "$c/qx/2002/"
install -m 755 "$bin/2003/Quorvix2003.exe" "$bin/2003/stv.exe" "$bin/2003/Pranset.dll" "$c/qx/2003/"
cat > "$WINEPREFIX/qx-settings.reg" <<'REG'
Windows Registry Editor Version 5.00

; No window manager under Xvfb: Wine places and activates the windows itself.
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

; Wine has programs of its own by these names; the stand-ins are meant.
[HKEY_CURRENT_USER\Software\Wine\DllOverrides]
"iexplore.exe"="native"
"wmplayer.exe"="native"
"connmgr.exe"="native"
"player.exe"="native"
"rasapi32"="native"
REG
settings="Z:${WINEPREFIX//\//\\}\\qx-settings.reg"
xvfb-run -a sh -c "wine regedit /S '$settings'; wineserver -w"
