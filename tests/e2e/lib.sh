# Helpers for the end-to-end cases: sourced by run.sh inside one Xvfb
# session per case, with WINEPREFIX set to the case's own prefix and
# QX_CASE_DIR to a folder for its files. A failing helper ends the case.

QX_DRIVE='C:\qx\qxdrive.exe'
QX_INSTALL='C:\qx\qxinstall.exe'

say() { printf '== %s\n' "$*"; }
fail() { printf 'FAILED: %s\n' "$*"; exit 1; }

# Runs a Windows program and prints its output without carriage returns.
# (Through a file: a program it starts would keep a pipe open.)
win() {
  local out status=0
  out=$(mktemp)
  wine "$@" > "$out" 2>/dev/null || status=$?
  tr -d '\r' < "$out"
  rm -f "$out"
  return $status
}

# One step of the UI driver (see tests/e2e/programs/qxdrive.cpp).
drive() { win "$QX_DRIVE" "$@" || fail "qxdrive $*"; }

# Starts a Windows program in the background; its pid (of the wine
# launcher) goes to $!.
start() { wine "$@" >/dev/null 2>&1 & }

unix_to_windows() { printf 'Z:%s' "${1//\//\\}"; }

import_reg() { wine regedit /S "$(unix_to_windows "$1")" 2>/dev/null || fail "import $1"; }

# The data of a value as `reg query` shows it, or nothing.
# An empty name is the key's default value.
value_of() {
  local name=$2 select=(/v "$2")
  if [ -z "$name" ]; then name='(Default)'; select=(/ve); fi
  win reg query "$1" "${select[@]}" | awk -v name="$name" '
    { line = $0; sub(/^    /, "", line) }
    index(line, name "    ") == 1 { sub(/^[^ ]+    [A-Z_]+    ?/, "", line); print line; found = 1 }
    END { exit !found }'
}

expect_value() {
  local got
  got=$(value_of "$1" "$2") || fail "no value $2 in $1"
  [ "$got" = "$3" ] || fail "$1 $2: expected \"$3\", found \"$got\""
  say "ok: $2 = $3"
}

# A key's values as `reg query` lists them: "NAME TYPE DATA" a line. (Wine
# keeps a key's values sorted by name, so the order they were written in
# does not show.)
reg_listing() {
  win reg query "$1" | awk 'index($0, "    ") == 1 {
    n = split(substr($0, 5), f, "    "); line = f[1] " " f[2]
    data = f[3]; for (i = 4; i <= n; i++) data = data "    " f[i]
    if (data != "") line = line " " data
    print line }'
}

expect_key() { win reg query "$1" >/dev/null || fail "no key $1"; say "ok: key $1"; }
expect_no_key() { if win reg query "$1" >/dev/null; then fail "key $1 is still there"; fi; say "ok: no key $1"; }

# Polls a command until it succeeds (about 10 s at most).
eventually() {
  local tries=0
  until ( "$@" ) >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ $tries -lt 50 ] || fail "never: $*"
    sleep 0.2
  done
}

value_is() { [ "$(value_of "$1" "$2")" = "$3" ]; }

# The log of program starts that the stand-ins keep.
starts() { tr -d '\r' 2>/dev/null < "$WINEPREFIX/drive_c/windows/qx-starts.log" || true; }
expect_started() { starts | grep -qF -- "$1" || fail "never started: $1 (starts: $(starts | tr '\n' '|'))"; say "ok: started $1"; }
soft_resets() { tr -d '\r' 2>/dev/null < "$WINEPREFIX/drive_c/windows/qx-soft-reset.log" | grep -c 'soft reset' || true; }

# Runs the same story on the simulated device once (its scenario next to
# the case), then compares its Nth "export" with Wine's export of that key.
# Options before the index go to regdiff.py.
same_as_simulated() {
  local options=()
  while [ "${1#--}" != "$1" ]; do options+=("$1"); shift; done
  local index=$1 key=$2 scenario=${QX_CASE%.sh}.qxs
  if [ ! -s "$QX_CASE_DIR/sim.txt" ]; then
    "$QX_QXSIM" "$scenario" > "$QX_CASE_DIR/sim.txt" || fail "the simulated story failed: $(tail -3 "$QX_CASE_DIR/sim.txt")"
  fi
  local file="$QX_CASE_DIR/wine-$index.reg"
  rm -f "$file"
  wine regedit /E "$(unix_to_windows "$file")" "$key" >/dev/null 2>&1 || true
  python3 "$QX_E2E_SOURCE/regdiff.py" "${options[@]}" "$QX_CASE_DIR/sim.txt" "$index" "$file" || fail "registry differs from the simulated device: $key"
  say "ok: $key as on the simulated device"
}

# Keys of the stories.
PROVIDERS='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\ConnMgr\Providers\{EF097F4C-DC4B-4c98-8FF6-AEF805DC0E8E}'
HTTP_ENTRY="$PROVIDERS\\HTTP-x"
SOCKS_ENTRY="$PROVIDERS\\SOCKS-x"
PROFILE_2002='HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix\Quorvix'
PROFILE_2003='HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix2003\Quorvix'
UA_2002='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings\User Agent'
UA_2003='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings\5.0\User Agent'
TRAY_CLASS='Dialog'
# The open commands as expect_stored quotes them.
LAUNCHER_COMMAND='\"\\Program Files\\Quorvix\\stv.exe\" \"%1\"'
PLAYER_2002_COMMAND='\"\\Program Files\\Windows Media Player 8\\player.exe\" \"%1\"'
BROWSER_TITLE='Internet Explorer'

# Puts an edition's programs where its package installs them:
# C:\Program Files\Quorvix (fresh copies, not links into the template).
install_client() {
  local dir="$WINEPREFIX/drive_c/Program Files/Quorvix"
  mkdir -p "$dir"
  cp "$WINEPREFIX/drive_c/qx/$1/"* "$dir/"
}

# For "eventually": checks made afresh on every try.
started_times() { [ "$(starts | grep -c "^$1")" -ge "$2" ]; }

# The processes of this case's own prefix ("PID IMAGE"), as its process
# list shows them: a program of the same name elsewhere on the machine
# (another case, another run) is not among them.
processes() { win "$QX_DRIVE" processes || fail "no process list"; }
process_ids() { processes | awk -v image="$1" '{ pid = $1; sub(/^[0-9]+ /, "") } $0 == image { print pid }'; }
no_process() { [ -z "$(process_ids "$1")" ]; }
has_process() { [ -n "$(process_ids "$1")" ]; }

# A host process (not Wine's) whose command line reads IMAGE, as another
# run's program of that name would; it must not disturb the case. Its pid
# goes to $DECOYS; end_decoys ends them.
DECOYS=()
decoy() { (exec -a "$1" sleep 300) & DECOYS+=($!); }
end_decoys() { local pid; for pid in "${DECOYS[@]}"; do kill "$pid" 2>/dev/null || true; done; DECOYS=(); }

# The device as it comes up, before the story: the Connection Manager
# runs, twice (a restart does not wait for the one it terminates, so two
# can meet; a restart ends every one). Their process ids go to
# $DEVICE_CONNMGR; the log of program starts begins empty after them.
boot_device() {
  start 'C:\windows\system32\connmgr.exe'
  start 'C:\windows\system32\connmgr.exe'
  eventually connmgr_count 2
  # Listed as soon as they exist, they log their start a little later.
  eventually started_times connmgr.exe 2
  DEVICE_CONNMGR=$(process_ids connmgr.exe | sort)
  rm -f "$WINEPREFIX/drive_c/windows/qx-starts.log"
}
connmgr_count() { [ "$(process_ids connmgr.exe | wc -l)" = "$1" ]; }

# "Terminate every connmgr.exe and start it again": those running at boot
# are gone, and exactly one was started.
expect_connmgr_restarted() {
  eventually started_times connmgr.exe 1
  local running
  eventually connmgr_count 1
  running=$(process_ids connmgr.exe)
  if echo "$DEVICE_CONNMGR" | grep -qxF "$running"; then fail "the device's connmgr.exe $running still runs"; fi
  [ "$(starts | grep -c '^connmgr.exe')" = 1 ] || fail "connmgr.exe started $(starts | grep -c '^connmgr.exe') times"
  say "ok: connmgr.exe $(echo $DEVICE_CONNMGR) terminated, one started (now $running)"
}
expect_connmgr_untouched() {
  [ "$(process_ids connmgr.exe | sort)" = "$DEVICE_CONNMGR" ] || fail "the device's connmgr.exe did not stay alone: $(process_ids connmgr.exe)"
  if starts | grep -q '^connmgr.exe'; then fail "connmgr.exe was started"; fi
  say "ok: the Connection Manager was left alone"
}

# Dial-up connections the stand-in library reports (one entry name a line;
# "!NAME" fails to hang up), and the hang-ups it recorded, in order.
dial_up() { printf '%s\r\n' "$@" > "$WINEPREFIX/drive_c/windows/qx-dialup.txt"; }
forget_hang_ups() { rm -f "$WINEPREFIX/drive_c/windows/qx-hangups.log"; }
hang_ups() { tr -d '\r' 2>/dev/null < "$WINEPREFIX/drive_c/windows/qx-hangups.log" || true; }
expect_hang_ups() {
  local expected got
  expected=$(printf '%s\n' "$@")
  got=$(hang_ups)
  [ "$got" = "$expected" ] || fail "hang-ups: expected [$(echo "$expected" | tr '\n' '|')], got [$(echo "$got" | tr '\n' '|')]"
  say "ok: hang-ups: $(echo "$got" | tr '\n' '|')"
}

# Checks that a key holds exactly the values on stdin ("NAME TYPE DATA" as
# reg_listing shows them, in any order).
expect_values() {
  local key=$1 expected got
  expected=$(LC_ALL=C sort)
  got=$(reg_listing "$key" | LC_ALL=C sort)
  if [ "$got" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$got") | sed 's/^/    /'
    fail "the values of $key differ (< expected, > found)"
  fi
  say "ok: the values of $key"
}

# Compares a step's output with the lines the case expects, literally.
expect_lines() {
  local what=$1 got=$2 expected
  expected=$(cat)
  if [ "$got" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$got") | sed 's/^/    /'
    fail "$what differs (< expected, > shown)"
  fi
  say "ok: $what"
}

# The HTTP entry (TYPE, PROXY) and the SOCKS twin the gateway writes, for
# expect_stored; the network identifiers are those of connection-manager.reg.
DEST_ID='{436EF144-B4FB-4863-A041-8F905A62C572}'
SRC_ID='{A1182988-0D73-439e-87AD-2A5B369F808B}'
http_entry_stored() {
  printf '[%s]\n"Type" REG_DWORD 4 %s\n"Enable" REG_DWORD 4 1\n"Proxy" REG_SZ %d "%s"\n' \
    "$HTTP_ENTRY" "$1" $(( (${#2} + 1) * 2 )) "$2"
  printf '"DestId" REG_SZ 78 "%s"\n"SrcId" REG_SZ 78 "%s"\n' "$DEST_ID" "$SRC_ID"
}
socks_twin_stored() {
  printf '[%s]\n"ExtraInfo" REG_SZ 2 ""\n"Override" REG_SZ 2 ""\n"Username" REG_SZ 2 ""\n' "$SOCKS_ENTRY"
  printf '"Proxy" REG_SZ 40 "gw.quorvix.net:8888"\n"Enable" REG_DWORD 4 1\n"Type" REG_DWORD 4 4\n'
  printf '"DestId" REG_SZ 78 "%s"\n"SrcId" REG_SZ 78 "%s"\n' "$DEST_ID" "$SRC_ID"
}
# The same entry as reg_listing shows it (TYPE as 0x0 or 0x1), for expect_values.
http_entry_listing() {
  printf 'Type REG_DWORD %s\nEnable REG_DWORD 0x1\nProxy REG_SZ %s\nDestId REG_SZ %s\nSrcId REG_SZ %s\n' \
    "$1" "$2" "$DEST_ID" "$SRC_ID"
}

# A restart of the Connection Manager and the browser after the case opened
# the browser: one connmgr.exe and a second iexplore.exe started (which of
# the two logs first is up to the processes, not to the client).
expect_restart_starts() {
  eventually started_times iexplore.exe 2
  expect_lines "the programs started" "$(starts | LC_ALL=C sort)" <<'EOF_'
connmgr.exe 
iexplore.exe 
iexplore.exe 
EOF_
}

# The seven streaming open commands holding COMMAND, for expect_stored.
open_commands() {
  local type
  for type in MMS MMST MMSU ASXFile ASFFile WAXFile WVXFile; do
    printf '[HKEY_CLASSES_ROOT\\%s\\Shell\\Open\\Command]\n@ REG_SZ 260 "%s"\n' "$type" "$1"
  done
}
# The 2002 client's stored state with the gateway switched off: the switch
# at 0, the browser's plain User-Agent value, the HTTP entry back on the
# carrier's proxy without its SOCKS twin, the open commands pointing at $1.
gateway_off_stored() {
  printf '[%s]\n"USEQUORVIX" REG_DWORD 4 0\n[%s]\n"UA-Language" REG_SZ 22 "JavaScript"\n' "$PROFILE_2002" "$UA_2002"
  http_entry_stored 0 wap.mobilenet.co.kr:1850
  printf -- '-[%s]\n' "$SOCKS_ENTRY"
  open_commands "$1"
}

# Ends every program of the prefix, as a soft reset of the device would, so
# that Wine writes its registry files; then checks the keys and values given
# on stdin (format: regfile.py) as they are stored, byte for byte. A story
# that goes on afterwards boots the device again (boot_device).
expect_stored() {
  wineserver -k 15 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  cat > "$QX_CASE_DIR/expected-registry.txt"
  python3 "$QX_E2E_SOURCE/regfile.py" "$WINEPREFIX" "$QX_CASE_DIR/expected-registry.txt" ||
    fail "the stored registry differs"
  say "ok: the registry as stored"
}
