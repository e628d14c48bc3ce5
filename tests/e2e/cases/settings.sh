# The user opens the Settings dialog from the tray button's popup menu,
# types an account, changes the page options and presses OK: the profile is
# saved, the restart notice shown, dial-up connections hung up (those named
# with a backquote kept), the Connection Manager and the browser restarted,
# and the User-Agent value carries the new token. On the way: the popup
# menu, the About box, Reset answered with Cancel, the Image Booster notice
# and Join answered with No. settings.qxs tells the same story on the
# simulated device.
import_reg "$QX_ROOT/scenarios/connection-manager.reg"
import_reg "$QX_ROOT/scenarios/pocket-pc-2002-device.reg"
import_reg "$QX_ROOT/scenarios/quorvix-2002-install.reg"
install_client 2002
client='C:\Program Files\Quorvix\Quorvix.exe'
dial_up GPRS '`Office VPN' 'Dial 2'
start "$client"
eventually value_is "$HTTP_ENTRY" Type 0x0
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

# The Settings dialog's controls in their order, with the ID field's text,
# the navigation and booster checks and the level list's selection.
settings_dialog() {
  cat <<EOF_
"Settings" (Dialog)
  Static -1 right "ID :"
  Edit 1003 edit$1
  Static -1 right "Password :"
  Edit 1012 password
  Button 1008 check "Office document morphing" [x]
  Button 1014 check "Show Navigation Icons" [$2]
  Button 1009 check "Show Image" [x]
  Button 1010 check "Image Booster" [$3]
  Static -1 left "Image Lvel :"
  ComboBox 1011 list "Low" "Middle" "High (Default)" selection $4
  Button 3 push "Join"
  Button 1 default "OK"
  Button 2 push "Cancel"
  Button -1 group
  Button -1 group
  Static -1 bitmap
  Button -1 group
  Button 1013 check "Use Quorvix" [x]
EOF_
}

say "About: the first entry"
drive tap-tray
drive menu 0
about=$(drive dialog 'Quorvix 정보')
echo "$about"
for line in '"Quorvix 정보" (Dialog)' '  Static -1 left "Quorvix v1.0 (1.0.0020)"' '  Button 1 default "확인"'; do
  echo "$about" | grep -qxF -- "$line" || fail "the About box lacks: $line"
done
[ "$(echo "$about" | grep -c ' bitmap$')" = 2 ] || fail "the About box should show two bitmaps"
[ "$(echo "$about" | grep -c ' icon$')" = 1 ] || fail "the About box should show one icon"
say "ok: the About box"
drive click 'Quorvix 정보' 1
drive gone '*' 'Quorvix 정보'

say "Reset, answered with Cancel: the fourth entry (no portals, no Exit for this ID)"
drive tap-tray
drive menu 3
expect_lines "the Reset question" "$(drive box Quorvix)" <<'EOF_'
인터넷 설정 등이 변경되어 Quorvix가 정상 동작하지 않을 때 선택하는 메뉴입니다. 설정값을 재적용하기 위해 Internet Explorer를 다시 시작하시겠습니까? 
buttons: OK Cancel
EOF_
drive answer Quorvix Cancel
drive gone '#32770' Quorvix
expect_hang_ups
expect_connmgr_untouched

say "Settings: the second entry"
drive tap-tray
drive menu 1
expect_lines "the Settings dialog as it opens" "$(drive dialog Settings)" < <(settings_dialog '' x ' ' 2)
drive windows | grep -qx ' "Internet Explorer" (IExplore) .* (disabled)' || fail "the browser is not disabled under the dialog"
say "ok: the browser is disabled while the dialog is open"

say "Image Booster: a notice"
drive click Settings 1010
expect_lines "the Image Booster notice" "$(drive box Quorvix)" <<'EOF_'
Image Booster를 사용할 경우 이미지의 크기가 변경될 수 있습니다.
buttons: OK
EOF_
drive answer Quorvix OK

say "Join, answered with No: the dialog stays"
drive click Settings 3
expect_lines "the Join question" "$(drive box Quorvix)" <<'EOF_'
가입 페이지로 이동하시면 현재 설정창은 자동으로 닫힙니다. 가입 페이지로 이동 하시겠습니까 ?
buttons: Yes No
EOF_
drive answer Quorvix No
drive gone '#32770' Quorvix

say "the account and the options"
drive type Settings 1003 user1
drive type Settings 1012 '암호secret'
drive pick Settings 1011 Middle
drive click Settings 1014
expect_lines "the Settings dialog before OK" "$(drive dialog Settings)" < <(settings_dialog ' "user1"' ' ' x 1)
drive click Settings 1

say "the restart notice"
expect_lines "the restart notice" "$(drive box Quorvix)" <<'EOF_'
설정값을 적용하기 위해서 Internet Explorer를 다시 시작합니다.
buttons: OK
EOF_
drive answer Quorvix OK

say "dial-up hung up, the Connection Manager and the browser restarted"
eventually value_is "$PROFILE_2002" ID user1
drive wait IExplore "$BROWSER_TITLE"
drive wait "$TRAY_CLASS" "$BROWSER_TITLE"
expect_hang_ups 'hang-up GPRS' 'hang-up Dial 2'
expect_connmgr_restarted
expect_restart_starts
same_as_simulated 0 'HKEY_CURRENT_USER\Software\Brennic Inc\Quorvix'
same_as_simulated 1 "$UA_2002"
same_as_simulated 2 "$PROVIDERS"
expect_stored <<EOF_
[$PROFILE_2002]
"USEQUORVIX" REG_DWORD 4 1
"ID" REG_SZ 12 "user1"
"PWD" REG_SZ 18 "암혹qfgwcs"
"DOC" REG_DWORD 4 1
"USENAVI" REG_DWORD 4 0
"USEIMG" REG_DWORD 4 1
"IMGBOOSTER" REG_DWORD 4 1
"IMGLEVEL" REG_DWORD 4 1
[$UA_2002]
"UA-Language" REG_SZ 128 "JavaScript(user1;09ed4427dfef2295bf3724fc684661a3;1;1;1;20;0;0)"
$(http_entry_stored 1 gw.quorvix.net:8000)
$(socks_twin_stored)
$(open_commands "$LAUNCHER_COMMAND")
EOF_
