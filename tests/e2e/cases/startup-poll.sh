# The tray client starts on a device with one proxy entry: the gateway goes
# on, the first poll tick switches the entries off; when the user brings
# the browser up, the poll writes the gateway entries again and shows the
# button over the browser's menu bar; when the browser goes, the entries go
# off again. The registry also holds what the simulated device holds after
# the same story (startup-poll.qxs).
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"

install_client 2002
say "the client starts"
start 'C:\Program Files\Quorvix\Quorvix.exe'
eventually value_is "$PROFILE_2002" USEQUORVIX 0x1
say "its first tick switches the entries off"
eventually value_is "$HTTP_ENTRY" Type 0x0
expect_values "$HTTP_ENTRY" < <(http_entry_listing 0x0 wap.mobilenet.co.kr:1850)
expect_no_key "$SOCKS_ENTRY"
same_as_simulated 0 "$PROVIDERS"
expect_connmgr_untouched

say "the user opens the browser: the button appears over it"
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
windows=$(drive windows)
echo "$windows"
echo "$windows" | grep -qx '[ >]"Internet Explorer" (Dialog) 184,299 16x16' || fail "the button is not at 184,299, 16x16"
say "ok: the button at 184,299, 16x16"
eventually value_is "$HTTP_ENTRY" Proxy "gw.quorvix.net:8000"
expect_values "$HTTP_ENTRY" < <(http_entry_listing 0x1 gw.quorvix.net:8000)
expect_values "$SOCKS_ENTRY" <<'EOF_'
ExtraInfo REG_SZ
Override REG_SZ
Username REG_SZ
Proxy REG_SZ gw.quorvix.net:8888
Enable REG_DWORD 0x1
Type REG_DWORD 0x4
DestId REG_SZ {436EF144-B4FB-4863-A041-8F905A62C572}
SrcId REG_SZ {A1182988-0D73-439e-87AD-2A5B369F808B}
EOF_
same_as_simulated 1 "$PROVIDERS"
same_as_simulated 2 'HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix'
same_as_simulated 3 "$UA_2002"
same_as_simulated 4 'HKEY_CLASSES_ROOT\MMS\Shell\Open\Command'

say "the browser goes away: the entries are switched off again"
drive send IExplore "$BROWSER_TITLE" 16
eventually value_is "$HTTP_ENTRY" Type 0x0
drive gone "$TRAY_CLASS" "$BROWSER_TITLE"
expect_connmgr_untouched
expect_stored <<EOF_
[HKEY_CURRENT_USER\\Software\\Brennic Inc\\Quorvix\\Quorvix]
"USEQUORVIX" REG_DWORD 4 1
[$UA_2002]
"UA-Language" REG_SZ 118 "JavaScript(;d41d8cd98f00b204e9800998ecf8427e;1;1;0;90;1;0)"
$(http_entry_stored 0 wap.mobilenet.co.kr:1850)
-[$SOCKS_ENTRY]
$(open_commands "$LAUNCHER_COMMAND")
EOF_
