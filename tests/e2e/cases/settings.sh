# What the settings story (settings.qxs, on both worlds) cannot say in its
# steps: the popup menu as the Windows build's resource holds it, every
# entry with its command id, those the client removes before showing it
# too (a story sees the menu as shown); and the browser disabled while the
# Settings dialog is open (a story names windows, not their states).
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
client='C:\Program Files\Quorvix\Quorvix.exe'
start "$client"
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"

expect_lines "the popup menu's entries" "$(drive menu-resource "$client" 129)" <<'EOF_'
32788 About Quorvix
-
32779 Settings
-
32771 Use Quorvix
32772 Use Quorvix
32784 Reset Quorvix
-
32780 Quorvix Home
32782 Naver
32781 Yahoo
32783 Empas
57665 Exit
EOF_

say "Settings: the second entry"
drive tap-tray
drive menu 1
drive wait '*' Settings
drive windows | grep -qx ' "Internet Explorer" (IExplore) .* (disabled)' || fail "the browser is not disabled under the dialog"
say "ok: the browser is disabled while the dialog is open"
