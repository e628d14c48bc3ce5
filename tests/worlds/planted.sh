#!/usr/bin/env bash
# The comparison of the two worlds finds a fault planted in either of them
# at the step where it shows, naming that step's line:
#   registry-case         the simulated registry reads value names with regard
#                         to case (Win32 never does): the client, started,
#                         misses the switch stored in lower case
#   unterminated-strings  the observed Win32 programs write strings without
#                         their terminator: the first string the client writes
#   box-end               a simulated box its program ends answers OK, not
#                         Cancel as Wine's do: the Join question ended by 1124
# The story without a plant agrees throughout. A check that fails on both
# worlds alike fails the run though they agree (failing-check.qxs).
# Usage: planted.sh QXSIM
set -u
qxsim=$1
story=$(dirname "$0")/planted.qxs
failed=0
check() {
  local plant=$1 line=$2 out status
  out=$("$qxsim" --world both ${plant:+--plant "$plant"} "$story" 2>/dev/null); status=$?
  if [ -z "$line" ]; then
    if [ $status -ne 0 ] || ! grep -q ', 0 differ$' <<<"$out"; then
      echo "FAIL: without a plant the worlds do not agree"; grep 'differ' <<<"$out" | head -3; failed=1
    else
      echo "ok: without a plant the worlds agree"
    fi
    return
  fi
  if [ $status -eq 1 ] && grep -q "planted.qxs:$line: the worlds differ" <<<"$out"; then
    echo "ok: $plant found at line $line"
  else
    echo "FAIL: $plant not found at line $line (status $status)"; grep 'differ' <<<"$out" | head -3; failed=1
  fi
}
check "" ""
check registry-case 8
check unterminated-strings 8
check box-end 15
out=$("$qxsim" --world both "$(dirname "$0")/failing-check.qxs" 2>/dev/null); status=$?
if [ $status -eq 1 ] && grep -q ', 0 differ$' <<<"$out" && grep -q 'failing-check.qxs:4: expectation failed' <<<"$out"; then
  echo "ok: a check failing on both worlds fails the run"
else
  echo "FAIL: a check failing on both worlds (status $status)"; tail -2 <<<"$out"; failed=1
fi
exit $failed
