# The 2003 package is installed while its client runs: Install_Init stops
# the client, Install_Exit records the install and the player's command,
# tells the user and soft-resets. The new client then runs until the
# package is removed: Uninstall_Init gives the open commands back to the
# player, stops the client by message 1124, clears the install record and
# the User-Agent value. install-2003.qxs tells the same story on the
# simulated device.
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/mobile-2003-device.reg"
install_client 2003
client='C:\Program Files\Quorvix\Quorvix2003.exe'
start "$client"
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"

say "install"
import_reg "$QX_ROOT/scenarios/quorvix-2003-package.reg"
win "$QX_INSTALL" install 'C:\Program Files\Quorvix\Pranset.dll' '\Program Files\Quorvix' > "$QX_CASE_DIR/install.txt" &
installer=$!
expect_lines "the install notice" "$(drive box "Quorvix Client Setup")" <<'EOF_'
프로그램 설치가 완료되었습니다.
프로그램 설정을 완료하기 위해 소프트리셋합니다.
리셋 후 Pocket IE를 실행하여 Quorvix 설정 값을 변경하십시오.
buttons: OK
EOF_
drive answer "Quorvix Client Setup" OK
wait $installer || true
cat "$QX_CASE_DIR/install.txt"
grep -qx 'Install_Init 0' "$QX_CASE_DIR/install.txt" || fail "Install_Init did not continue"
[ "$(soft_resets)" = 1 ] || fail "no soft reset was recorded"
say "ok: the device soft-resets"
eventually no_process Quorvix2003.exe
say "ok: the client was stopped"
same_as_simulated 0 'HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix2003'
same_as_simulated 1 'HKEY_CLASSES_ROOT\MMS\Shell\Open\Command'
# The player's command the device had (no launcher in it) is kept.
expect_stored <<EOF_
[HKEY_CURRENT_USER\\Software\\Brennic Inc\\Quorvix2003]
"qx_install_path" REG_SZ 260 "\\\\Program Files\\\\Quorvix"
"qx_installed" REG_DWORD 4 1
"wmp_path" REG_SZ 260 "\\\\Windows\\\\wmplayer.exe %1"
EOF_
boot_device

say "the new client runs"
start "$client"
start 'C:\windows\system32\iexplore.exe'
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
same_as_simulated 2 'HKEY_CLASSES_ROOT\MMS\Shell\Open\Command'

say "uninstall"
win "$QX_INSTALL" uninstall 'C:\Program Files\Quorvix\Pranset.dll' '\Program Files\Quorvix' | tee "$QX_CASE_DIR/uninstall.txt"
grep -qx 'Uninstall_Init 0' "$QX_CASE_DIR/uninstall.txt" || fail "Uninstall_Init did not continue"
grep -qx 'Uninstall_Exit 0' "$QX_CASE_DIR/uninstall.txt" || fail "Uninstall_Exit failed"
eventually no_process Quorvix2003.exe
say "ok: the client was stopped"
same_as_simulated 3 'HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix2003'
same_as_simulated 4 'HKEY_CLASSES_ROOT\MMS\Shell\Open\Command'
same_as_simulated 5 'HKEY_CLASSES_ROOT\WVXFile\Shell\Open\Command'
same_as_simulated 6 "$UA_2003"
same_as_simulated 7 "$PROVIDERS"
expect_stored <<EOF_
-[HKEY_CURRENT_USER\\Software\\Brennic Inc\\Quorvix2003]
[$UA_2003]
"UA-Language" REG_SZ 256 "JavaScript"
$(open_commands '\\Windows\\wmplayer.exe %1')
EOF_
