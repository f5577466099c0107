#!/usr/bin/env bash
# The program's main job, the whole road on a fresh machine: installs the Debian packages
# that are missing (scripts/install-deps.sh holds the list and names what it installs, with
# what apt brings along, before installing), builds the program alone (the template; the
# tests and benchmarks are built by scripts/test.sh), showing the build's progress, makes a
# work folder (out/run) with the freshly built template as W2KVQXXXX.EXE, two generated
# sample firmware files VQ8E.BIN and VQ10.BIN and two virtual drives, builds the release
# W2KVQ8E10.EXE with the template's Build button, and flashes the virtual drives with that
# release. Nothing touches a real drive and nothing restarts the machine.
#
# With a display ($DISPLAY) the windows open for you to drive; the script says what to do
# and checks the results. Without one the road is played on a virtual X server: each
# step's status line is printed and a screenshot of every step is saved to out/run/shots
# (the folder is named at the end).
#
#   scripts/run.sh             as above
#   scripts/run.sh --play      play the road even when a display is there
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

play=0
[ "${1:-}" = "--play" ] && play=1

started=$(date +%s)
took() { echo "   ($(($(date +%s) - started)) s so far)"; }
echo "== Debian packages (scripts/install-deps.sh names any it installs before installing them) =="
bash scripts/install-deps.sh
took
# The program alone: the road needs nothing else. scripts/test.sh builds the tests and the
# benchmarks in the same build tree.
echo "== build: the program, build/app/W2KVQXXXX.EXE (the tests are built by scripts/test.sh) =="
bash scripts/build.sh --target flashutil "$root/build"
program="$root/build/app/W2KVQXXXX.EXE"
[ -x "$program" ] || { echo "the build made no $program" >&2; exit 1; }
took

work="$root/out/run"
echo "== the road, in $work =="
# The sample firmware files are generated there; they are not firmware of any drive.
if [ "$play" -eq 0 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec bash scripts/road.sh --interactive "$program" "$work"
fi
# No display (or --play): the road.sh player starts a virtual X server when DISPLAY is unset.
[ "$play" -eq 1 ] || unset DISPLAY
status=0
bash scripts/road.sh --shots "$work/shots" "$program" "$work" || status=$?
[ "$status" -eq 0 ] && result=done || result=FAILED
echo "== $result in $(($(date +%s) - started)) s =="
exit "$status"
