# Shared steps of the end-to-end scenarios: a virtual X server, the real program started
# in a work folder, its windows found by title, screenshots. Each scenario is one script:
#   bash scenario.sh PROGRAM WORKDIR
# and sources this file first. Everything started here is stopped on exit.
set -euo pipefail
# A command that fails says where, so a failed run tells which step broke.
trap 'echo "FAIL: ${BASH_SOURCE[0]##*/}:$LINENO: $BASH_COMMAND exited with $?" >&2' ERR

PROGRAM=$(readlink -f "$1")
WORK=$2
rm -rf "$WORK"
mkdir -p "$WORK"
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The system's python, where python3-pyatspi lives (a user's pyenv may shadow it).
PYTHON=/usr/bin/python3

_pids=()
cleanup() {
  local pid
  for pid in "${_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Starts Xvfb on a free display and exports DISPLAY.
start_xvfb() {
  local fifo="$WORK/.displayfd"
  rm -f "$fifo"
  # -noreset: otherwise the server resets each time its last client leaves and drops any
  # client still connecting then (the program aborts: "could not connect to display").
  Xvfb -noreset -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$fifo" >"$WORK/xvfb.log" 2>&1 &
  _pids+=($!)
  local i
  for i in $(seq 1 100); do
    [ -s "$fifo" ] && break
    sleep 0.1
  done
  [ -s "$fifo" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$fifo")"
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
}

# Copies the program into the work folder under NAME.
prepare_program() {
  cp "$PROGRAM" "$WORK/$1"
  chmod +x "$WORK/$1"
}

# Starts WORK/NAME with the work folder as its current directory; extra environment is
# given as NAME=VALUE arguments. The program speaks English whatever the session's
# language, unless the arguments name another. Sets APP_PID.
run_program() {
  local name=$1
  shift
  (cd "$WORK" && exec env LANGUAGE=en "$@" "./$name" >"$WORK/program.log" 2>&1) &
  APP_PID=$!
  _pids+=("$APP_PID")
}

# Both: a fresh copy under NAME, started.
start_program() {
  prepare_program "$1"
  run_program "$@"
}

# Waits until a window whose title matches the regular expression exists; prints its id.
wait_window() {
  local pattern=$1 timeout=${2:-20} i id
  for i in $(seq 1 $((timeout * 10))); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    if [ -n "${APP_PID:-}" ] && ! kill -0 "$APP_PID" 2>/dev/null; then
      cat "$WORK/program.log" >&2 || true
      fail "the program ended before a window matching '$pattern' showed"
    fi
    sleep 0.1
  done
  fail "no window matching '$pattern' within ${timeout}s"
}

# Waits for the program to end; fails unless it ends with exit code 0.
wait_program_end() {
  local timeout=${1:-20} i rc
  for i in $(seq 1 $((timeout * 10))); do
    if ! kill -0 "$APP_PID" 2>/dev/null; then
      rc=0
      wait "$APP_PID" || rc=$?
      [ "$rc" -eq 0 ] || fail "the program ended with exit code $rc"
      return 0
    fi
    sleep 0.1
  done
  fail "the program did not end within ${timeout}s"
}

# Sends keys to a window after giving it the focus (there is no window manager).
send_keys() {
  local id=$1
  shift
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  sleep 0.2
  xdotool key --clearmodifiers "$@"
}

# Saves the whole screen as a PNG and prints its path.
screenshot() {
  local out=$1
  sleep 0.5
  import -window root "$out"
  echo "$out"
}

# Makes a copy of the program a finished one: slot 1 no longer holds the empty-slot
# marker. Slot 2 and everything else stay as they are.
patch_slot1() {
  "$PYTHON" - "$1" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
at = data.find(b'BIN-START-ADDR\0')
assert at >= 0, 'start key-word not found'
slot = at + 15
assert data[slot:slot + 6] == b'QORM01', 'not a template'
data[slot:slot + 262144] = bytes((i * 7 + 1) & 0xFF for i in range(262144))
open(path, 'wb').write(data)
PY
}

# A finished release (slot 1 patched) started on the virtual drives of FOLDER, readable
# through the accessibility tree; the start-up warning is answered Yes.
start_release_past_warning() {
  prepare_program W2KVQ8E10.EXE
  patch_slot1 "$WORK/W2KVQ8E10.EXE"
  run_program W2KVQ8E10.EXE QVX_VIRTUAL_DRIVES="$1" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  local id
  id=$(wait_window '^Warning$')
  send_keys "$id" Return # Yes is the default button
}

# Writes a virtual drive into FOLDER/NAME: vendor product revision address [more key=value].
virtual_drive() {
  local folder=$1 name=$2 vendor=$3 product=$4 revision=$5 address=$6
  shift 6
  mkdir -p "$folder/$name"
  {
    echo "vendor=$vendor"
    echo "product=$product"
    echo "revision=$revision"
    echo "address=$address"
    local line
    for line in "$@"; do echo "$line"; done
  } >"$folder/$name/drive"
}

# Re-runs the calling scenario inside its own D-Bus session (the accessibility bus is
# started from it) unless it already runs in one made here.
exec_in_session() {
  if [ -z "${E2E_IN_SESSION:-}" ]; then
    trap - EXIT
    # A runtime folder of its own: otherwise every session's accessibility bus socket
    # lands at the same path and scenarios running side by side take each other's.
    XDG_RUNTIME_DIR="$WORK.runtime"
    rm -rf "$XDG_RUNTIME_DIR"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
    E2E_IN_SESSION=1 exec dbus-run-session -- bash "$0" "$PROGRAM" "$WORK" 2> >(grep -v 'fd limit' >&2)
  fi
}

# Saves just the window's area of the screen as a PNG and prints its path.
window_screenshot() {
  local id=$1 out=$2 geometry
  sleep 0.5
  geometry=$(xdotool getwindowgeometry --shell "$id" |
    awk -F= '/^WIDTH/{w=$2}/^HEIGHT/{h=$2}/^X=/{x=$2}/^Y=/{y=$2}END{print w "x" h "+" x "+" y}')
  import -window root -crop "$geometry" +repage "$out"
  echo "$out"
}

# The same with a title bar drawn above it from the window's title (the virtual display
# has no window manager to draw one), for documentation.
titled_window_screenshot() {
  local id=$1 out=$2 title
  title=$(xdotool getwindowname "$id")
  window_screenshot "$id" "$out" >/dev/null
  convert "$out" -background '#3b4a63' -gravity north -splice 0x26 \
    -fill white -font DejaVu-Sans -pointsize 13 -annotate +0+5 "$title" "$out"
  echo "$out"
}
