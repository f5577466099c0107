# A finished program on a machine with no drive: Yes to the warning, then the error dialog
# with the prepared text and one OK button; OK ends the program with exit code 0 and the
# main window never shows.
source "$(dirname "$0")/lib.sh"
exec_in_session "$@"

start_xvfb
mkdir -p "$WORK/no-drives"
start_release_past_warning "$WORK/no-drives"
id=$(wait_window '^Error$')
"$PYTHON" "$E2E_DIR/atspi_check.py" dialog Error "$(printf '\nERROR:\n\nCan'"'"'t found QVX-5500firmware:VQ00~VQ9Z drive !\n\nThis flash utility only supports QVX-5500 firmware:VQ00~VQ9Z\n\nDetected drives:\n-----------------------------------------------------------\nx')" OK
if xdotool search --onlyvisible --name '^Korvane' >/dev/null 2>&1; then
  fail "the main window shows although no drive was found"
fi
screenshot "$WORK/no-drive-error.png"
send_keys "$id" Return # OK
wait_program_end 20
echo "ok: no-drive error, then the program ends with exit code 0"
