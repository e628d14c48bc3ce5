# The user taps a playlist that holds only a link while the gateway is on:
# the shell runs the 2002 launcher through the type's open command, with the
# path in quotes. The file becomes a one-entry ASX playlist, the proxy
# entries are switched off (the SOCKS twin removed, the Connection Manager
# left running) and the player named by "wmp_path" starts with the same
# quoted command line (launcher.qxs tells the same story on the simulated
# device).
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
import_reg "$QX_ROOT/tests/e2e/cases/gateway-on.reg"
import_reg "$QX_ROOT/tests/e2e/cases/playlist-opens-with-launcher.reg"
install_client 2002
playlist="$WINEPREFIX/drive_c/Temp/news.asx"
printf 'http://media.quorvix.net/news.asf\r\n' > "$playlist"

say "the user taps the playlist"
drive open '\Temp\news.asx'
printf '<asx version="3.0">\r\n<entry>\r\n<ref href="http://media.quorvix.net/news.asf\r\n"/>\r\n</entry>\r\n</asx>' > "$QX_CASE_DIR/expected.asx"
cmp "$playlist" "$QX_CASE_DIR/expected.asx" || fail "the playlist is not the wrapped link: $(cat -A "$playlist")"
say "ok: the playlist wraps the link"
eventually expect_started 'player.exe "C:\Temp\news.asx"'
drive wait WMP "Windows Media"
expect_values "$HTTP_ENTRY" < <(http_entry_listing 0x0 wap.mobilenet.co.kr:1850)
expect_no_key "$SOCKS_ENTRY"
expect_connmgr_untouched
same_as_simulated 0 "$PROVIDERS"

say "a real playlist is left alone"
printf '<ASX version="3.0"><Entry><Ref href="mms://media.quorvix.net/show"/></Entry></ASX>' > "$playlist"
cp "$playlist" "$QX_CASE_DIR/kept.asx"
drive open '\Temp\news.asx'
cmp "$playlist" "$QX_CASE_DIR/kept.asx" || fail "the playlist changed"
say "ok: unchanged"
eventually started_times player.exe 2
expect_lines "the programs started" "$(starts)" <<'EOF_'
player.exe "C:\Temp\news.asx"
player.exe "C:\Temp\news.asx"
EOF_
expect_stored <<EOF_
$(http_entry_stored 0 wap.mobilenet.co.kr:1850)
-[$SOCKS_ENTRY]
# The launcher leaves the client's profile alone.
-[HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix]
EOF_
