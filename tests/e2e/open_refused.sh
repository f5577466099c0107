# A user without the rights on the drive: identification says "Error opening: 13", then no
# drive is left to list and the error dialog follows. Once both are closed the program ends
# with exit code 0 and no window is left, however the boxes were closed.
source "$(dirname "$0")/lib.sh"
exec_in_session "$@"

start_xvfb
virtual_drive "$WORK/drives" a KORVANE QVX-5500 VQ8E 1-0-0 fault=open-error=13
start_release_past_warning "$WORK/drives"
id=$(wait_window '^Korvane Flash utility for QVX5500')
"$PYTHON" "$E2E_DIR/atspi_check.py" dialog "$(xdotool getwindowname "$id")" "Error opening: 13" OK
send_keys "$id" Return # OK
id=$(wait_window '^Error$')
screenshot "$WORK/open-refused.png"
send_keys "$id" Return # OK
wait_program_end 20
echo "ok: 'Error opening: 13', the no-drive error, then the program ends with exit code 0"
