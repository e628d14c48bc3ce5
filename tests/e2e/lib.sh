# Helpers for the end-to-end cases: sourced by run.sh inside one Xvfb
# session per case, with WINEPREFIX set to the case's own prefix and
# QX_CASE_DIR to a folder for its files. A failing helper ends the case.

QX_DRIVE='C:\qx\qxdrive.exe'

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

# The windows and keys the cases name.
HTTP_ENTRY='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\ConnMgr\Providers\{EF097F4C-DC4B-4c98-8FF6-AEF805DC0E8E}\HTTP-x'
TRAY_CLASS='Dialog'
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

# Dial-up connections the stand-in library reports (one entry name a line;
# "!NAME" fails to hang up), and the hang-ups it recorded, in order.
dial_up() { printf '%s\r\n' "$@" > "$WINEPREFIX/drive_c/windows/qx-dialup.txt"; }
hang_ups() { tr -d '\r' 2>/dev/null < "$WINEPREFIX/drive_c/windows/qx-hangups.log" || true; }
expect_hang_ups() {
  local expected got
  expected=$(printf '%s\n' "$@")
  got=$(hang_ups)
  [ "$got" = "$expected" ] || fail "hang-ups: expected [$(echo "$expected" | tr '\n' '|')], got [$(echo "$got" | tr '\n' '|')]"
  say "ok: hang-ups: $(echo "$got" | tr '\n' '|')"
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


