# Another program sends message 1124 to the tray window while the browser
# is in front: the client hangs up the dial-up connections (keeping the one
# named with a backquote), switches the gateway off, restarts the
# Connection Manager and the browser, gives the open commands back to the
# player and ends (message-1124.qxs tells the same story on the simulated
# device). Processes of the same names outside the case's prefix do not
# count.
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
dial_up '`Home' GPRS
start 'C:\Program Files\Quorvix\Quorvix.exe'
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
eventually value_is "$HTTP_ENTRY" Proxy "gw.quorvix.net:8000"
expect_value 'HKEY_CLASSES_ROOT\MMS\Shell\Open\Command' '' '"\Program Files\Quorvix\stv.exe" "%1"'
decoy 'C:\Program Files\Quorvix\Quorvix.exe'
decoy 'C:\windows\system32\connmgr.exe'
trap end_decoys EXIT

say "message 1124"
result=$(drive send "$TRAY_CLASS" "$BROWSER_TITLE" 1124)
[ "$result" = 0 ] || fail "1124 answered $result"
eventually no_process Quorvix.exe
kill -0 "${DECOYS[0]}" || fail "the decoy ended"
say "ok: the client ended (a host process of its name still runs)"
expect_hang_ups 'hang-up GPRS'
expect_connmgr_restarted
expect_restart_starts
expect_value "$PROFILE_2002" USEQUORVIX 0x0
expect_no_key "$SOCKS_ENTRY"
same_as_simulated 0 "$PROVIDERS"
same_as_simulated 1 'HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix'
same_as_simulated 2 'HKEY_CLASSES_ROOT\MMS\Shell\Open\Command'
same_as_simulated 3 'HKEY_CLASSES_ROOT\WVXFile\Shell\Open\Command'
same_as_simulated 4 "$UA_2002"
expect_stored <<EOF_
$(gateway_off_stored "$PLAYER_2002_COMMAND")
EOF_
