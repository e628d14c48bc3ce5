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
starts() { tr -d '\r' < "$WINEPREFIX/drive_c/windows/qx-starts.log" 2>/dev/null || true; }
expect_started() { starts | grep -qF -- "$1" || fail "never started: $1 (starts: $(starts | tr '\n' '|'))"; say "ok: started $1"; }
soft_resets() { tr -d '\r' < "$WINEPREFIX/drive_c/windows/qx-soft-reset.log" 2>/dev/null | grep -c 'soft reset' || true; }

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
BROWSER_TITLE='Internet Explorer'

# Puts an edition's programs where its package installs them:
# C:\Program Files\Quorvix (fresh copies, not links into the template).
install_client() {
  local dir="$WINEPREFIX/drive_c/Program Files/Quorvix"
  mkdir -p "$dir"
  cp "$WINEPREFIX/drive_c/qx/$1/"* "$dir/"
}

# For "eventually": checks made afresh on every try.
no_process() { ! pgrep -f "$1" >/dev/null; }
started_times() { [ "$(starts | grep -c "^$1")" -ge "$2" ]; }
