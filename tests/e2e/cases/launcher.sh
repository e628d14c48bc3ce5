# The shell runs the 2002 launcher on a playlist that holds only a link: the
# file becomes a one-entry ASX playlist, the proxy entries are switched off
# and the player named by "wmp_path" starts with the same command line
# (launcher.qxs tells the same story on the simulated device).
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
playlist="$WINEPREFIX/drive_c/Temp/news.asx"
printf 'http://media.quorvix.net/news.asf\r\n' > "$playlist"

say "the launcher runs"
win 'C:\Program Files\Quorvix\stv.exe' '\Temp\news.asx' || fail "stv.exe"
printf '<asx version="3.0">\r\n<entry>\r\n<ref href="http://media.quorvix.net/news.asf\r\n"/>\r\n</entry>\r\n</asx>' > "$QX_CASE_DIR/expected.asx"
cmp "$playlist" "$QX_CASE_DIR/expected.asx" || fail "the playlist is not the wrapped link: $(cat -A "$playlist")"
say "ok: the playlist wraps the link"
eventually expect_started 'player.exe \Temp\news.asx'
drive wait WMP "Windows Media"
expect_value "$HTTP_ENTRY" Proxy "wap.mobilenet.co.kr:1850"
same_as_simulated 0 "$PROVIDERS"

say "a real playlist is left alone"
printf '<ASX version="3.0"><Entry><Ref href="mms://media.quorvix.net/show"/></Entry></ASX>' > "$playlist"
cp "$playlist" "$QX_CASE_DIR/kept.asx"
win 'C:\Program Files\Quorvix\stv.exe' '\Temp\news.asx' || fail "stv.exe"
cmp "$playlist" "$QX_CASE_DIR/kept.asx" || fail "the playlist changed"
say "ok: unchanged"
