# Without "toolhelp.dll" the client cannot take the process list: asked to
# switch the gateway on (message 1126), it hangs up the dial-up connection,
# switches the entries, tells the user and leaves the Connection Manager
# alone.
rm -f "$WINEPREFIX/drive_c/windows/system32/toolhelp.dll"
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
dial_up GPRS
start 'C:\Program Files\Quorvix\Quorvix.exe'
eventually value_is "$HTTP_ENTRY" Type 0x0

say "message 1126: switch the gateway on"
win "$QX_DRIVE" send "$TRAY_CLASS" "  " 1126 1 > "$QX_CASE_DIR/send.txt" &
sender=$!
expect_lines "the missing library's notice" "$(drive box TrayTaskList)" <<'EOF_'
Toolhelp.dll not found
buttons: OK
EOF_
drive answer TrayTaskList OK
wait $sender || fail "1126 got no answer"
[ "$(cat "$QX_CASE_DIR/send.txt")" = 1 ] || fail "1126 answered $(cat "$QX_CASE_DIR/send.txt")"
expect_hang_ups 'hang-up GPRS'
expect_connmgr_untouched
# The switch and the token stay; with no browser in front the next tick
# takes the entries off again.
eventually value_is "$HTTP_ENTRY" Type 0x0
expect_stored <<EOF_
[$PROFILE_2002]
"USEQUORVIX" REG_DWORD 4 1
[$UA_2002]
"UA-Language" REG_SZ 118 "JavaScript(;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0)"
$(http_entry_stored 0 wap.mobilenet.co.kr:1850)
-[$SOCKS_ENTRY]
EOF_
