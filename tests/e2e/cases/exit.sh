# The account "pelor" gets the full popup menu: its fifth entry opens the
# service's home page, its ninth, "Exit", ends the client. Start-up rewrote
# the stored switch 2 as 1; Exit switches the entries off and gives the
# open commands back to the player, but keeps the switch and the
# User-Agent token, hangs nothing up and leaves the Connection Manager
# alone (exit.qxs tells the same story on the simulated device).
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
import_reg "$QX_ROOT/tests/e2e/cases/pelor-profile.reg"
install_client 2002
dial_up GPRS
start 'C:\Program Files\Quorvix\Quorvix.exe'
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
eventually value_is "$HTTP_ENTRY" Type 0x1
expect_value "$PROFILE_2002" USEQUORVIX 0x1

say "Quorvix Home: the fifth entry"
drive tap-tray
drive menu 4
eventually started_times iexplore.exe 2
starts | tail -1 | grep -qx 'iexplore.exe http://[^/]*/pda' || fail "not the home page: $(starts | tail -1)"
say "ok: $(starts | tail -1)"

say "Exit: the ninth entry, offered to this account only"
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
drive tap-tray
drive menu 8
eventually no_process Quorvix.exe
say "ok: the client ended"
expect_hang_ups
expect_connmgr_untouched
same_as_simulated 0 "$PROVIDERS"
same_as_simulated 1 'HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix'
same_as_simulated 2 "$UA_2002"
same_as_simulated 3 'HKEY_CLASSES_ROOT\MMS\Shell\Open\Command'
expect_stored <<EOF_
[$PROFILE_2002]
"USEQUORVIX" REG_DWORD 4 1
"ID" REG_SZ 12 "pelor"
[$UA_2002]
"UA-Language" REG_SZ 128 "JavaScript(pelor;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0)"
$(http_entry_stored 0 wap.mobilenet.co.kr:1850)
-[$SOCKS_ENTRY]
$(open_commands "$PLAYER_2002_COMMAND")
EOF_
