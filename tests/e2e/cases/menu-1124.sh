# Message 1124 while the tray's popup menu is open: the menu closes with
# nothing chosen and the client ends at once, with the gateway off and the
# open commands back with the player (end-over-modal.qxs tells the same
# story on the simulated device).
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
start 'C:\Program Files\Quorvix\Quorvix.exe'
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
eventually value_is "$HTTP_ENTRY" Proxy "gw.quorvix.net:8000"
drive tap-tray
drive wait "#32768" ""
say "ok: the popup menu is open"

say "message 1124"
result=$(drive send "$TRAY_CLASS" "$BROWSER_TITLE" 1124)
[ "$result" = 0 ] || fail "1124 answered $result"
drive gone "#32768" "" 2000
say "ok: the menu closed"
eventually no_process Quorvix.exe
say "ok: the client ended"
expect_connmgr_restarted
expect_restart_starts
expect_value "$PROFILE_2002" USEQUORVIX 0x0
expect_no_key "$SOCKS_ENTRY"
expect_stored <<EOF_
$(gateway_off_stored "$PLAYER_2002_COMMAND")
EOF_
