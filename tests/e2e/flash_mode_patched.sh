# A copy of the template whose slot 1 was patched starts in flash mode: the start-up
# warning shows (no main window yet), and No ends the program with exit code 0 and no
# further dialog.
source "$(dirname "$0")/lib.sh"

start_xvfb
mkdir -p "$WORK/no-drives"
prepare_program W2KVQ8E10.EXE
patch_slot1 "$WORK/W2KVQ8E10.EXE"
cmp -s "$PROGRAM" "$WORK/W2KVQ8E10.EXE" && fail "the patch changed nothing"
run_program W2KVQ8E10.EXE QVX_VIRTUAL_DRIVES="$WORK/no-drives"

id=$(wait_window '^Warning$')
if xdotool search --onlyvisible --name '^Korvane' >/dev/null 2>&1; then
  fail "the main window shows before the warning was answered"
fi
screenshot "$WORK/flash-warning.png"
send_keys "$id" Escape # Escape is No
wait_program_end 20
echo "ok: flash mode warning, No ends the program with exit code 0"
