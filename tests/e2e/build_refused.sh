# A firmware file one byte short: the Build button shows the size message, the status
# line keeps "Building W2KVQ8E10.EXE... ", and no program appears under that name; an
# older release of that name stays as it was.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
exec_in_session "$@"
UI="$PYTHON $E2E_DIR/../../scripts/road_ui.py"
TITLE='\[Buiding\]$'

start_xvfb
head -c 262143 /dev/urandom >"$WORK/VQ8E.BIN"
head -c 262144 /dev/urandom >"$WORK/VQ10.BIN"
echo "an older release" >"$WORK/W2KVQ8E10.EXE"
start_program W2KVQXXXX.EXE QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
$UI wait-window "$TITLE" >/dev/null
$UI click "$TITLE" "list item" VQ8E.BIN
$UI click "$TITLE" "list item" VQ10.BIN
$UI click "$TITLE" "push button" Build
seen=$($UI wait-dialog 'file size' OK)
screenshot "$WORK/size-refused.png" >/dev/null
[ "$seen" = "${seen%: VQ8E.BINfile size != 256K}: VQ8E.BINfile size != 256K" ] || fail "dialog: $seen"
$UI answer 'file size' OK >/dev/null
status=$($UI status "$TITLE")
[ "$status" = "Building W2KVQ8E10.EXE... " ] || fail "status line '$status'"
[ "$(cat "$WORK/W2KVQ8E10.EXE")" = "an older release" ] || fail "the older release was changed"
leftovers=$(find "$WORK" -maxdepth 1 -name '.W2KVQ8E10.EXE.*' | wc -l)
[ "$leftovers" -eq 0 ] || fail "a temporary file was left behind"
echo "ok: $seen"
