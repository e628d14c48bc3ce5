# The Wine world's agent (tools/qxagent) as the scenario runner drives it,
# through its session class (tools/qxsim/wine_session.h): a prefix of its
# own cloned from this run's template, its own X server, requests of every
# kind answered, a wrong one refused, a late answer breaking the session
# (tests/wine_session_test.cpp).
out=$QX_CASE_DIR/agent.txt
if ! QX_WINE_TEMPLATE=$QX_ROOT/build/e2e/template QX_WINE_SCRATCH=$QX_CASE_DIR \
     "$QX_ROOT/build/default/tests/wine_session_test" > "$out" 2>&1; then
  cat "$out"
  fail "the agent's session test failed"
fi
if grep -q SKIPPED "$out"; then cat "$out"; fail "the agent's session test skipped checks"; fi
grep '^timing:\|tests from .* ran' "$out"
