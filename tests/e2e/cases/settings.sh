# The user opens the Settings dialog from the tray button's popup menu,
# types an account, changes the page options and presses OK: the profile is
# saved, the restart notice shown, the Connection Manager and the browser
# restarted, and the User-Agent value carries the new token, exactly as on
# the simulated device (settings.qxs).
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
start 'C:\Program Files\Quorvix\Quorvix.exe'
eventually value_is "$HTTP_ENTRY" Proxy "wap.mobilenet.co.kr:1850"
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"

say "the popup menu: About, Settings, Use Quorvix, Reset, Home"
drive tap-tray
drive menu 1
drive dialog Settings
drive type Settings 1003 user1
drive type Settings 1012 secret
drive pick Settings 1011 Middle
drive click Settings 1014
drive dialog Settings
drive click Settings 1

say "the restart notice"
notice=$(drive box Quorvix)
echo "$notice"
[ "$notice" = "설정값을 적용하기 위해서 Internet Explorer를 다시 시작합니다." ] || fail "unexpected notice: $notice"
drive answer Quorvix OK

say "the Connection Manager and the browser restart"
eventually value_is "$PROFILE_2002" ID user1
eventually expect_started connmgr.exe
eventually started_times 'iexplore.exe' 2
drive wait IExplore "$BROWSER_TITLE"
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
starts
same_as_simulated 0 'HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix'
same_as_simulated 1 "$UA_2002"
same_as_simulated 2 "$PROVIDERS"
