# The hang-up rule on the Windows build, with the stand-in dial-up library:
# before a switch the client takes at most 20 connection records and hangs
# up, in the order enumerated, every connection whose name holds no
# backquote, stopping at the first hang-up that fails; with more than 20
# open it hangs up none. Message 1126 switches without a browser.
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
start 'C:\Program Files\Quorvix\Quorvix.exe'
eventually value_is "$HTTP_ENTRY" Type 0x0
lines() { local i; for i in $(seq "$1" "$2"); do printf 'Line %s\n' "$i"; done; }
switch() {
  local result
  result=$(drive send "$TRAY_CLASS" "  " 1126 "$1")
  [ "$result" = 1 ] || fail "1126 answered $result"
}

say "21 connections: more than 20 records hold, so none is hung up"
mapfile -t names < <(lines 1 21)
dial_up "${names[@]}"
switch 0
expect_hang_ups

say "20 connections, the fifth named with a backquote: the other 19, in order"
mapfile -t names < <(lines 1 20)
names[4]='`Line 5'
dial_up "${names[@]}"
switch 1
mapfile -t expected < <(lines 1 20 | grep -vx 'Line 5' | sed 's/^/hang-up /')
expect_hang_ups "${expected[@]}"
# The switch is stored on; with no browser in front the next tick takes the
# entries off again, so the entries are no sign of the switch here.
eventually value_is "$PROFILE_2002" USEQUORVIX 0x1
eventually value_is "$HTTP_ENTRY" Type 0x0

say "a hang-up that fails ends the walk"
forget_hang_ups
dial_up Home '!Office' Mobile
switch 0
expect_hang_ups 'hang-up Home' 'hang-up failed Office'
expect_stored <<EOF_
$(gateway_off_stored "$LAUNCHER_COMMAND")
EOF_
