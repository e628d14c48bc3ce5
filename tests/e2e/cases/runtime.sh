# The deliverables' runtime piece (platform/win32/runtime/) ends a program at
# once when memory is refused or a rule of the standard library is broken:
# exit code 8 (ERROR_NOT_ENOUGH_MEMORY) or 3, and nothing printed after the
# step: no "after", no exit handler, no destructor, no library told of the
# process's end ("detach"), no message box waited for (the timeout). The
# first run, where memory is there, shows what ending at once leaves out.
# (tests/e2e/programs/runtimecheck.cpp takes the steps.)
while read -r step code expected; do
  status=0
  timeout 20 wine 'C:\qx\runtimecheck.exe' "$step" > "$QX_CASE_DIR/$step.txt" 2>/dev/null || status=$?
  got=$(tr -d '\r' < "$QX_CASE_DIR/$step.txt" | paste -sd '|')
  [ "$status" = "$code" ] || fail "$step: exit code $status, expected $code (printed: $got)"
  [ "$got" = "$expected" ] || fail "$step: printed \"$got\", expected \"$expected\""
  say "ok: $step ends with $code: $got"
done <<'EOF_'
small 0 before small|after small|exit handler|destructor|detach
new 8 before new
new[] 8 before new[]
string 8 before string
string-length 8 before string-length
allocate 8 before allocate
allocate-overflow 8 before allocate-overflow
substr 3 before substr
terminate 3 before terminate
EOF_
