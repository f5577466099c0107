# The program in the session's language: a release started with LANG set to a language it
# carries (E2E_LANG, e.g. de_DE.UTF-8) shows the start-up warning in that language, with
# the title and the toolkit's own Yes and No (E2E_BUTTONS) in it as well; the main window
# then names its controls in that language, while the caption's revisions and the drive
# lines stay as the drive and the file name give them.
source "$(dirname "$0")/lib.sh"
exec_in_session "$@"

: "${E2E_LANG:?language of the session}" "${E2E_TS:?its .ts source}" "${E2E_BUTTONS:?its Yes and No}"
translated() {
  "$PYTHON" "$E2E_DIR/translation.py" "$E2E_TS" "$@"
}

start_xvfb
virtual_drive "$WORK/drives" a KORVANE QVX-5500 VQ8A 1-0-0
prepare_program W2KVQ8E10.EXE
patch_slot1 "$WORK/W2KVQ8E10.EXE"
run_program W2KVQ8E10.EXE QVX_VIRTUAL_DRIVES="$WORK/drives" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  LANG="$E2E_LANG" LANGUAGE= LC_ALL= LC_MESSAGES=
title=$(translated Dialogs Warning)
# The only window yet (xdotool matches titles byte by byte, not as the text they are); its
# title is read through the accessibility tree below.
id=$(wait_window '.')
warning=$(translated MainForm "\nWARNING:\n\nThis flash utility only supports Korvane %1 firmware:%2\n\nWe recommend you close all applications in order to run this update!\nDon't turn off the system while the flash is in progress!\n\n\nDo you wish to continue?\n" QVX-5500 'VQ00~VQ9Z'; echo x)
# shellcheck disable=SC2086 # the buttons' names are words of their own
"$PYTHON" "$E2E_DIR/atspi_check.py" dialog "$title" "$warning" $E2E_BUTTONS
screenshot "$WORK/warning.png"
send_keys "$id" Return # the first button, Yes in the session's language

expected='Korvane  Flash utility   V1.015 QVX-5500 [VQ8E10]'
id=$(wait_window '^Korvane')
[ "$(xdotool getwindowname "$id")" = "$expected" ] || fail "caption '$(xdotool getwindowname "$id")', expected '$expected'"
"$PYTHON" "$E2E_DIR/atspi_check.py" named-controls "$expected" \
  "$(translated MainForm 'Select drive you want to flash:')" "$(translated MainForm Flash)" \
  "1-0-0 D: KORVANE QVX-5500        VQ8A"
window_screenshot "$id" "$WORK/flash-mode.png"
echo "ok: the warning, its buttons and the window's controls in $E2E_LANG"
