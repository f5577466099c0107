#!/usr/bin/env bash
# The whole road with the real programs: two firmware files, a release built from the
# template with the Build button, and that release flashing virtual drives.
#
#   scripts/road.sh [--interactive] [--build-only] [--shots DIR] TEMPLATE WORKDIR
#
# TEMPLATE is the built program (W2KVQXXXX.EXE, still holding the empty-slot marker).
# WORKDIR is made afresh: the template copied in as W2KVQXXXX.EXE, two generated firmware
# files VQ8E.BIN and VQ10.BIN (262144 bytes each), and a folder "drives" with two virtual
# drives, a VQ8A (IBM-K) and a VQ10 (non-IBM-K).
#
# Played (the default): on the display in DISPLAY, or on a virtual one (Xvfb) when there
# is none, every control is found through the accessibility tree and worked with real
# mouse clicks and keys. Each step prints what it did and the status line, and saves a
# screenshot to the shots folder (default WORKDIR/shots). The script checks that the new
# program is the template with exactly its two slots replaced, that it starts in flash
# mode with " [VQ8E10]" in its caption, and that each virtual drive ends up holding the
# firmware file meant for it, byte for byte. Exit code 0 only when all of that holds.
#
# --interactive: the windows open on the user's display and the user drives them; the
# script prepares the folder, says what to do, and checks the results afterwards.
#
# --build-only: played up to the checked release W2KVQ8E10.EXE; nothing is flashed.
#
# The release never restarts the machine here: QVX_NO_REBOOT=1 is set, and the drives are
# virtual (QVX_VIRTUAL_DRIVES).
set -euo pipefail

interactive=0
build_only=0
shots=
while [ $# -gt 0 ]; do
  case $1 in
    --interactive) interactive=1; shift ;;
    --build-only) build_only=1; shift ;;
    --shots) shots=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || { sed -n '2,26p' "$0" >&2; exit 2; }

TEMPLATE=$(readlink -f "$1")
WORK=$(readlink -m "$2")
shots=$(readlink -m "${shots:-$WORK/shots}")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PYTHON=/usr/bin/python3 # the system's, where python3-pyatspi lives
UI="$PYTHON $HERE/road_ui.py"
RELEASE=W2KVQ8E10.EXE
BUILD_TITLE='\[Buiding\]$'
FLASH_TITLE='\[VQ8E10\]$'

# The accessibility bus lives in a D-Bus session; make one unless already inside one.
# Its own runtime folder too: the accessibility bus puts its socket there (else under
# ~/.cache), and a session that ends elsewhere must not take ours with it.
if [ "$interactive" -eq 0 ] && [ -z "${ROAD_IN_SESSION:-}" ]; then
  args=(--shots "$shots" "$TEMPLATE" "$WORK")
  [ "$build_only" -eq 0 ] || args=(--build-only "${args[@]}")
  XDG_RUNTIME_DIR=$(mktemp -d /tmp/road-runtime-XXXXXX)
  export XDG_RUNTIME_DIR
  # What the bus and the services it starts print (the accessibility registry says it runs)
  # goes to /dev/null; the road's own lines go to this script's output (descriptor 3).
  ROAD_IN_SESSION=1 exec dbus-run-session -- bash -c 'exec bash "$@" >&3 3>&-' road.sh "$0" "${args[@]}" \
    3>&1 >/dev/null 2> >(grep -v -e 'fd limit' -e 'Activating service' -e 'Successfully activated' -e 'SpiRegistry daemon' >&2)
fi

_pids=()
cleanup() {
  local pid
  for pid in "${_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  case ${XDG_RUNTIME_DIR:-} in /tmp/road-runtime-*) rm -rf "$XDG_RUNTIME_DIR" ;; esac
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -s "$WORK/program.log" ]; then
    echo "--- the last lines the programs wrote ($WORK/program.log):" >&2
    tail -n 40 "$WORK/program.log" >&2
  fi
  if [ -n "${APP_PID:-}" ] && ! kill -0 "$APP_PID" 2>/dev/null; then
    local rc=0
    wait "$APP_PID" 2>/dev/null || rc=$?
    echo "--- the program had already ended, exit status $rc" >&2
  fi
  [ -n "${DISPLAY:-}" ] && [ "$interactive" -eq 0 ] && shot "failure" >/dev/null 2>&1 || true
  exit 1
}

step_no=0
# One step of the road: its number, what happened, and the status line.
step() {
  step_no=$((step_no + 1))
  printf '[%02d] %s\n' "$step_no" "$*"
}

shot() {
  local file
  file=$(printf '%s/%02d-%s.png' "$shots" "$step_no" "$1")
  sleep 0.4
  import -window root "$file"
  echo "     screenshot: $file"
}

status_line() { $UI status "$1" || echo "?"; }

# The Build button must be in state WANT (enabled or disabled); a button that cannot be
# found or read is a failure too, not a pass.
expect_build_button() {
  local want=$1 why=$2 rc=0 state
  $UI enabled "$BUILD_TITLE" "push button" Build || rc=$?
  case $rc in
    0) state=enabled ;;
    3) state=disabled ;;
    *) fail "cannot read the state of the Build button" ;;
  esac
  [ "$state" = "$want" ] || fail "$why"
}

prepare_folder() {
  rm -rf "$WORK"
  mkdir -p "$WORK" "$shots"
  cp "$TEMPLATE" "$WORK/W2KVQXXXX.EXE"
  chmod 755 "$WORK/W2KVQXXXX.EXE"
  # Sample firmware: generated pseudo-random bytes, a different stream per file.
  "$PYTHON" - "$WORK" <<'PY'
import random, sys
for name, seed in (("VQ8E.BIN", 8014), ("VQ10.BIN", 1001)):
    with open(sys.argv[1] + "/" + name, "wb") as f:
        f.write(random.Random(seed).randbytes(262144))
PY
  local d
  for d in "a VQ8A 1-0-0" "b VQ10 1-1-0"; do
    set -- $d
    mkdir -p "$WORK/drives/$1"
    printf 'vendor=KORVANE\nproduct=QVX-5500\nrevision=%s\naddress=%s\n' "$2" "$3" >"$WORK/drives/$1/drive"
  done
}

# Starts WORK/NAME in WORK with extra NAME=VALUE environment; sets APP_PID.
start_program() {
  local name=$1
  shift
  (cd "$WORK" && exec env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 LANGUAGE=en "$@" "./$name" >>"$WORK/program.log" 2>&1) &
  APP_PID=$!
  _pids+=("$APP_PID")
}

stop_program() {
  kill "$APP_PID" 2>/dev/null || true
  wait "$APP_PID" 2>/dev/null || true
}

# The new program must be the template with exactly its two slots replaced by the files.
check_release() {
  "$PYTHON" - "$WORK" "$RELEASE" <<'PY'
import os, stat, sys
work, name = sys.argv[1], sys.argv[2]
read = lambda n: open(os.path.join(work, n), "rb").read()
t, out, ibmk, other = read("W2KVQXXXX.EXE"), read(name), read("VQ8E.BIN"), read("VQ10.BIN")
key = bytes([66, 73, 78, 45, 83, 84, 65, 82, 84, 45, 65, 68, 68, 82, 0])  # the start key-word
k = t.find(key)
assert k >= 0, "the template holds no start key-word"
s1, s2, end = k + 15, k + 15 + 262144, k + 15 + 2 * 262144
problems = []
if len(out) != len(t): problems.append("size %d, template %d" % (len(out), len(t)))
if out[:s1] != t[:s1]: problems.append("differs before slot 1")
if out[s1:s2] != ibmk: problems.append("slot 1 is not VQ8E.BIN")
if out[s2:end] != other: problems.append("slot 2 is not VQ10.BIN")
if out[end:] != t[end:]: problems.append("differs after slot 2")
if not os.stat(os.path.join(work, name)).st_mode & stat.S_IXUSR: problems.append("not executable")
if problems:
    sys.exit("%s: %s" % (name, "; ".join(problems)))
print("     %s: %d bytes, the template with slot 1 = VQ8E.BIN and slot 2 = VQ10.BIN (key-word at %d), executable"
      % (name, len(out), k))
PY
}

check_drives() {
  local ok=0
  if cmp -s "$WORK/drives/a/firmware.bin" "$WORK/VQ8E.BIN"; then
    echo "     virtual drive D: (was VQ8A) holds VQ8E.BIN byte for byte"
  else
    echo "     virtual drive D: does not hold VQ8E.BIN" >&2; ok=1
  fi
  if cmp -s "$WORK/drives/b/firmware.bin" "$WORK/VQ10.BIN"; then
    echo "     virtual drive E: (was VQ10) holds VQ10.BIN byte for byte"
  else
    echo "     virtual drive E: does not hold VQ10.BIN" >&2; ok=1
  fi
  return $ok
}

# One flash of drive line INDEX, expecting the revisions CURRENT -> NEW.
flash_line() {
  local index=$1 current=$2 new=$3
  $UI pick-drive "$FLASH_TITLE" "$index" | sed 's/^/     /'
  $UI click "$FLASH_TITLE" "push button" Flash
  local seen
  seen=$($UI wait-dialog "FW:$current to FW:$new" Yes) || fail "no update question for line $index"
  step "pressed Flash for line $index: $seen"
  shot "flash-$index-question"
  $UI answer "FW:$current to FW:$new" Yes >/dev/null
  $UI wait-dialog 'successfully completed' No 120 >/dev/null || fail "no restart question after the flash"
  step "answered Yes; status line: '$(status_line "$FLASH_TITLE")'"
  [ "$(status_line "$FLASH_TITLE")" = "Flash Completed." ] || fail "the flash did not complete"
  shot "flash-$index-completed"
  step "restart question answered No: $($UI answer 'successfully completed' No)"
  sleep 0.5
  echo "     status line: '$(status_line "$FLASH_TITLE")'"
  shot "flash-$index-restart-declined"
}

play() {
  if [ -z "${DISPLAY:-}" ]; then
    local fifo="$WORK/.displayfd"
    # -noreset: otherwise the server resets each time its last client leaves and drops any
    # client still connecting then (the program aborts: "could not connect to display").
    Xvfb -noreset -displayfd 9 -screen 0 800x600x24 -nolisten tcp 9>"$fifo" >"$WORK/xvfb.log" 2>&1 &
    _pids+=($!)
    local i
    for i in $(seq 1 100); do [ -s "$fifo" ] && break; sleep 0.1; done
    [ -s "$fifo" ] || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$fifo")"
    echo "virtual display $DISPLAY"
  fi
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb

  start_program W2KVQXXXX.EXE
  local seen
  seen=$($UI wait-window "$BUILD_TITLE") || fail "the template's window did not open"
  step "started the template in $WORK: '$seen'; status line: '$(status_line "$BUILD_TITLE")'"
  expect_build_button disabled "Build is enabled before any pick"
  shot "build-mode"

  $UI click "$BUILD_TITLE" "list item" VQ8E.BIN
  step "clicked VQ8E.BIN: '$($UI label "$BUILD_TITLE" '^IBM-K BIN file: ')'"
  expect_build_button disabled "Build is enabled after one pick"
  shot "picked-ibm-k"

  $UI click "$BUILD_TITLE" "list item" VQ10.BIN
  step "clicked VQ10.BIN: '$($UI label "$BUILD_TITLE" '^NonIBM-K BIN file: ')'"
  expect_build_button enabled "Build stays disabled after both picks"
  shot "picked-both"

  $UI click "$BUILD_TITLE" "push button" Build
  step "pressed Build; status line: '$($UI wait-status "$BUILD_TITLE" 'ok!$|fail' 60)'"
  shot "built"
  [ "$(status_line "$BUILD_TITLE")" = "Build $RELEASE ok!" ] || fail "the build did not succeed"
  stop_program
  check_release || fail "the new program is not the template with the two slots filled"
  if [ "$build_only" -eq 1 ]; then
    echo "release built; screenshots in $shots"
    return 0
  fi

  start_program "$RELEASE" QVX_VIRTUAL_DRIVES="$WORK/drives" QVX_NO_REBOOT=1
  seen=$($UI wait-dialog 'Do you wish to continue' Yes) || fail "$RELEASE showed no start-up warning"
  step "started $RELEASE with the virtual drives: $seen"
  shot "flash-warning"
  $UI answer 'Do you wish to continue' Yes >/dev/null
  local title
  title=$($UI wait-window "$FLASH_TITLE")
  step "answered Yes: flash mode, caption '$title'; status line: '$(status_line "$FLASH_TITLE")'"
  shot "flash-mode"

  flash_line 0 VQ8A VQ8E
  flash_line 1 VQ10 VQ10
  stop_program
  step "closed $RELEASE"
  check_drives || fail "a virtual drive does not hold its firmware"
  echo "road complete; screenshots in $shots"
}

interactive_road() {
  cat <<EOF
The folder $WORK now holds the template W2KVQXXXX.EXE, the firmware files VQ8E.BIN and
VQ10.BIN, and two virtual drives (drives/a: VQ8A, drives/b: VQ10).

1. The template opens in build mode. Pick VQ8E.BIN in the left list and VQ10.BIN in the
   right one, press Build, wait for "Build $RELEASE ok!", then close the window.
EOF
  (cd "$WORK" && ./W2KVQXXXX.EXE) || true
  [ -f "$WORK/$RELEASE" ] || fail "no $RELEASE was built"
  check_release || fail "the new program is not the template with the two slots filled"
  cat <<EOF
2. $RELEASE opens in flash mode on the virtual drives. Answer Yes to the warning, press
   Flash for each drive line, answer Yes to the update question and No to the restart
   question, then close the window.
EOF
  (cd "$WORK" && QVX_VIRTUAL_DRIVES="$WORK/drives" QVX_NO_REBOOT=1 "./$RELEASE") || true
  check_drives || fail "a virtual drive does not hold its firmware"
}

prepare_folder
if [ "$interactive" -eq 1 ]; then
  interactive_road
else
  play
fi
