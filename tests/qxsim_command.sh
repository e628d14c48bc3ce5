#!/usr/bin/env bash
# The qxsim program as a person or a script runs it: each error is told
# once wherever standard output and standard error lead, and a page is
# written only when there is a story to tell.
# Usage: qxsim_command.sh QXSIM
set -u
qxsim=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() { if ! eval "$2"; then echo "FAIL: $1"; failed=1; fi; }
count() { grep -c -- "$1" "$2" || true; }

printf 'note one\nfly away\nexpect key HKEY_CURRENT_USER\\Nothing\n' > "$work/bad.qxs"
error='bad.qxs:2: unknown verb "fly"'

"$qxsim" "$work/bad.qxs" > "$work/both" 2>&1
check "one stream: the error told once" '[ "$(count "$error" "$work/both")" = 1 ]'
"$qxsim" "$work/bad.qxs" > "$work/out" 2> "$work/err"
check "two streams: the error in the transcript" '[ "$(count "$error" "$work/out")" = 1 ]'
check "two streams: the error on standard error" '[ "$(count "$error" "$work/err")" = 1 ]'

printf 'expect key HKEY_CURRENT_USER\\Nothing\n' > "$work/false.qxs"
"$qxsim" "$work/false.qxs" > "$work/both" 2>&1
check "one stream: a failed check told once" '[ "$(count "expectation failed" "$work/both")" = 1 ]'

"$qxsim" --html "$work/page.html" 2>/dev/null
status=$?
check "no scenario: status 2" '[ "$status" = 2 ]'
check "no scenario: no page" '[ ! -e "$work/page.html" ]'
exit $failed
