# The tray client starts on a device with one proxy entry: the gateway goes
# on, the first poll tick switches the entries off; when the user brings
# the browser up, the poll writes the gateway entries again and shows the
# button over the browser's menu bar. The registry then holds what the
# simulated device holds after the same story (startup-poll.qxs).
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"

install_client 2002
say "the client starts"
start 'C:\Program Files\Quorvix\Quorvix.exe'
eventually value_is "$PROFILE_2002" USEQUORVIX 0x1
say "its first tick switches the entries off"
eventually value_is "$HTTP_ENTRY" Proxy "wap.mobilenet.co.kr:1850"
expect_no_key "$SOCKS_ENTRY"
same_as_simulated 0 "$PROVIDERS"

say "the user opens the browser: the button appears over it"
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
drive windows
eventually value_is "$HTTP_ENTRY" Proxy "gw.quorvix.net:8000"
expect_value "$SOCKS_ENTRY" Proxy "gw.quorvix.net:8888"
same_as_simulated 1 "$PROVIDERS"
same_as_simulated 2 'HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix'
same_as_simulated 3 "$UA_2002"
same_as_simulated 4 'HKEY_CLASSES_ROOT\MMS\Shell\Open\Command'

say "the browser goes away: the entries are switched off again"
drive send IExplore "$BROWSER_TITLE" 16
eventually value_is "$HTTP_ENTRY" Proxy "wap.mobilenet.co.kr:1850"
drive gone "$TRAY_CLASS" "$BROWSER_TITLE"
