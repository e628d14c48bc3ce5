# Without "toolhelp.dll" the client cannot take the process list: asked to
# switch the gateway (message 1126), it tells the user and leaves the
# Connection Manager alone.
rm -f "$WINEPREFIX/drive_c/windows/system32/toolhelp.dll"
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
start 'C:\Program Files\Quorvix\Quorvix.exe'
eventually value_is "$HTTP_ENTRY" Proxy "wap.mobilenet.co.kr:1850"

say "message 1126: switch the gateway on"
win "$QX_DRIVE" send "$TRAY_CLASS" "  " 1126 1 > "$QX_CASE_DIR/send.txt" &
sender=$!
box=$(drive box TrayTaskList)
[ "$box" = "Toolhelp.dll not found" ] || fail "unexpected box: $box"
say "ok: $box"
drive answer TrayTaskList OK
wait $sender || fail "1126 got no answer"
[ "$(cat "$QX_CASE_DIR/send.txt")" = 1 ] || fail "1126 answered $(cat "$QX_CASE_DIR/send.txt")"
if starts | grep -q '^connmgr.exe'; then fail "the Connection Manager was started"; fi
say "ok: the Connection Manager was left alone"
expect_value "$PROFILE_2002" USEQUORVIX 0x1
