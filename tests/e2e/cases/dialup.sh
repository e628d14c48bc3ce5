# A hang-up that the system's dial-up library refuses ends the walk: the
# stand-in library fails the hang-up of a connection it lists as "!NAME".
# No step can say that of a connection (a scenario's "dial" opens one that
# hangs up, and "fail RasHangUpW N" fails a call by its count, which
# dialup.qxs tells on both worlds); the rest of the hang-up rule is told
# there.
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
start 'C:\Program Files\Quorvix\Quorvix.exe'
eventually value_is "$HTTP_ENTRY" Type 0x0

say "the second connection's hang-up fails: the third stays up"
dial_up Home '!Office' Mobile
result=$(drive send "$TRAY_CLASS" "  " 1126 0)
[ "$result" = 1 ] || fail "1126 answered $result"
expect_hang_ups 'hang-up Home' 'hang-up failed Office'
