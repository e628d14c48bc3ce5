# The platform services on real Win32 keep the contracts the programs rely
# on (and the simulated device reproduces): registry bytes and errors,
# subtree deletes, code page 949 without best fit, files opened only when
# they exist, message boxes that their program ends returning IDCANCEL.
win 'C:\qx\backendcheck.exe' | tee "$QX_CASE_DIR/backend.txt" || fail "the backend check failed"
grep -q '^backend: [0-9]* passed, 0 failed$' "$QX_CASE_DIR/backend.txt" || fail "the backend check did not finish"
