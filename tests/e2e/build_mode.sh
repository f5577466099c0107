# The template starts in build mode on a real X server: exact caption (no application
# name appended) and no dialog. What the two file lists hold is read through the
# accessibility tree by accessible_build_mode.sh.
source "$(dirname "$0")/lib.sh"

start_xvfb
for f in VQ8E.BIN VQ9A.BIN VQ10.BIN VQA0.BIN; do
  head -c 262144 /dev/zero >"$WORK/$f"
done
start_program W2KVQXXXX.EXE
id=$(wait_window '^Korvane')
title=$(xdotool getwindowname "$id")
expected='Korvane  Flash utility   V1.015 QVX-5500 [Buiding]'
[ "$title" = "$expected" ] || fail "caption is '$title', expected '$expected'"
# No other window (no dialog) in build mode.
count=$(xdotool search --onlyvisible --name '.' 2>/dev/null | wc -l)
[ "$count" -eq 1 ] || fail "expected one window, saw $count"
screenshot "$WORK/build-mode-screen.png"
titled_window_screenshot "$id" "$WORK/build-mode.png"
echo "ok: $title"
