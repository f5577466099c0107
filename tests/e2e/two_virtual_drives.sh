# A finished program with two virtual drives: after Yes to the warning, the window lists
# both drives, the first selected, each line with its device node as tool tip; read back
# through the accessibility tree (AT-SPI) as assistive technology sees it.
source "$(dirname "$0")/lib.sh"
exec_in_session "$@"

start_xvfb
drives="$WORK/drives"
virtual_drive "$drives" a KORVANE QVX-5500 VQ8E 1-0-0
virtual_drive "$drives" b KORVANE QVX-5500 VQ10 1-1-0
start_release_past_warning "$drives"
id=$(wait_window '^Korvane')
title=$(xdotool getwindowname "$id")
expected='Korvane  Flash utility   V1.015 QVX-5500 [VQ8E10]'
[ "$title" = "$expected" ] || fail "caption is '$title', expected '$expected'"
"$PYTHON" "$E2E_DIR/atspi_check.py" drive-list "$expected" \
  "1-0-0 D: KORVANE QVX-5500        VQ8E" "1-1-0 E: KORVANE QVX-5500        VQ10"
screenshot "$WORK/flash-mode-screen.png"
titled_window_screenshot "$id" "$WORK/flash-mode.png"
echo "ok: two drives listed, the first selected"
