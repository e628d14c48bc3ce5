# The restart of the Connection Manager as the process table shows it,
# which a story cannot count (message-1124.qxs tells the rest of the story
# on both worlds, and checks which processes the client terminated and
# started): after message 1124 the two that ran at boot are gone and
# exactly one runs. Processes of the same names outside the case's prefix
# are neither counted nor touched.
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
start 'C:\Program Files\Quorvix\Quorvix.exe'
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
decoy 'C:\Program Files\Quorvix\Quorvix.exe'
decoy 'C:\windows\system32\connmgr.exe'
trap end_decoys EXIT

say "message 1124"
result=$(drive send "$TRAY_CLASS" "$BROWSER_TITLE" 1124)
[ "$result" = 0 ] || fail "1124 answered $result"
eventually no_process Quorvix.exe
kill -0 "${DECOYS[0]}" || fail "the decoy ended"
kill -0 "${DECOYS[1]}" || fail "the decoy ended"
say "ok: the client ended (host processes of its name and the Connection Manager's still run)"
expect_connmgr_restarted
