#!/usr/bin/env bash
# A release package on fresh Debian systems: nothing from this machine but the package
# itself.
#
#   tests/packaging/fresh_install.sh TEMPLATE WORKDIR [--keep]
#
# From the built TEMPLATE it makes the release W2KVQ8E10.EXE (two generated test images)
# and packs the release and the template with scripts/package.sh. Then, for this
# machine's own Debian release (VERSION_CODENAME in /etc/os-release) and for the newest
# stable release when that is newer (the archive's stable Release file tells which),
# mmdebstrap makes a minimal tree of that release (from DEBIAN_MIRROR, default
# deb.debian.org, with its -updates and -security suites) in WORKDIR/<release>/tree, where
# `apt-get install --no-install-recommends ./<package>.deb` must pull in everything the
# program needs. The installed program is started as its desktop entry's Exec line says,
# on a virtual X server (Xvfb, outside the tree), with a folder of virtual drives: the
# start-up warning and the main window with its caption must show. Then the template's
# package must take the release's place (they share the desktop entry) and its entry must
# open build mode in the user's release folder. On the newest stable release there is no
# newer one, and only its own tree is made (the output says so). FRESH_INSTALL_RELEASES
# (codenames, for example "trixie forky") names the releases instead.
# Screenshots go to WORKDIR/shots; the trees are removed at the end unless --keep.
#
# Needs root (mmdebstrap, chroot) and the package archive; exits 77 (skipped) when
# mmdebstrap, Xvfb, xdotool or ImageMagick's import is missing.
set -euo pipefail
trap 'echo "FAIL: ${BASH_SOURCE[0]##*/}:$LINENO: $BASH_COMMAND exited with $?" >&2' ERR

[ $# -ge 2 ] || { sed -n '2,25p' "$0" >&2; exit 2; }
for tool in mmdebstrap unshare chroot Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing (scripts/install-deps.sh installs it)"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: mmdebstrap and chroot need root"; exit 77; }

# A mount namespace of its own: the /proc mounted into a tree goes away with it,
# however the script ends.
if [ -z "${FRESH_INSTALL_NS:-}" ]; then
  FRESH_INSTALL_NS=1 exec unshare --mount --propagation private bash "$0" "$@"
fi

TEMPLATE=$(readlink -f "$1")
WORK=$(readlink -m "$2")
keep=0
[ "${3:-}" = "--keep" ] && keep=1
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
MIRROR=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
SECURITY_MIRROR=${DEBIAN_SECURITY_MIRROR:-${MIRROR%/debian}/debian-security}
SHOTS=$WORK/shots
RELEASE_CAPTION='Korvane  Flash utility   V1.015 QVX-5500 [VQ8E10]'
TEMPLATE_CAPTION='Korvane  Flash utility   V1.015 QVX-5500 [Buiding]'
started=$(date +%s)
TREE= # the tree being checked

_pids=()
cleanup() {
  local pid
  for pid in "${_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [ -n "$TREE" ]; then remove_tree; fi
}
# Unmounts the tree's /proc and, unless --keep, removes the tree; never through a mount.
remove_tree() {
  umount "$TREE/proc" 2>/dev/null || true
  if [ "$keep" -eq 0 ] && ! grep -q " $TREE/" /proc/self/mounts; then
    rm -rf --one-file-system "$TREE"
  fi
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

elapsed() { echo "$(($(date +%s) - started)) s"; }

# This machine's release, and the newest stable one when that is newer: the archive's
# stable Release file names it. A machine of the testing or unstable suite, or of the
# newest stable release itself, has no newer stable release.
releases() {
  if [ -n "${FRESH_INSTALL_RELEASES:-}" ]; then
    echo "$FRESH_INSTALL_RELEASES"
    return
  fi
  local own_version stable
  own_version=$(. /etc/os-release && echo "${VERSION_ID:-}")
  stable=$(/usr/bin/python3 - "$MIRROR/dists/stable/Release" "$own_version" <<'PY'
import re, sys, urllib.request
text = urllib.request.urlopen(sys.argv[1], timeout=60).read().decode()
fields = dict(re.findall(r"^(\w+): (.*)$", text, re.M))
own = sys.argv[2]
if own.isdigit() and int(fields["Version"].split(".")[0]) > int(own):
    print(fields["Codename"])
PY
) || fail "cannot read which release is stable from $MIRROR/dists/stable/Release"
  echo "$own $stable"
}

own=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$own" ] || fail "/etc/os-release names no VERSION_CODENAME: not a Debian release?"

# Clears the work folder; never through a mount point left in an old tree.
grep -q " $WORK/" /proc/self/mounts && fail "something is still mounted under $WORK"
rm -rf --one-file-system "$WORK"
mkdir -p "$WORK" "$SHOTS"

echo "== packages =="
/usr/bin/python3 - "$TEMPLATE" "$WORK/W2KVQ8E10.EXE" "$ROOT/tests/e2e" <<'PY'
import sys
sys.path.insert(0, sys.argv[3])
from flash_e2e import make_program, test_images
make_program(sys.argv[1], sys.argv[2], test_images())
PY
cp "$TEMPLATE" "$WORK/W2KVQXXXX.EXE"
release_deb=$(bash "$ROOT/scripts/package.sh" "$WORK/W2KVQ8E10.EXE" "$WORK")
template_deb=$(bash "$ROOT/scripts/package.sh" "$WORK/W2KVQXXXX.EXE" "$WORK")
echo "$release_deb"
echo "$template_deb"
list=$(releases)
read -r -a codenames <<<"$list"
if [ -z "${FRESH_INSTALL_RELEASES:-}" ] && [ ${#codenames[@]} -eq 1 ]; then
  echo "built on $own; the archive's stable release is no newer, so it is the only one checked"
else
  echo "built on $own; checked on: ${codenames[*]}"
fi

# The virtual display runs outside the trees; programs in them reach it over the abstract
# socket, which a chroot does not hide.
fifo=$WORK/.displayfd
# -noreset: otherwise the server resets each time its last client leaves and drops any
# client still connecting then (the program aborts: "could not connect to display").
Xvfb -noreset -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$fifo" >"$WORK/xvfb.log" 2>&1 &
_pids+=($!)
for _ in $(seq 1 100); do [ -s "$fifo" ] && break; sleep 0.1; done
[ -s "$fifo" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$fifo")"

in_tree() {
  chroot "$TREE" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

install_deb() {
  cp "$1" "$TREE/tmp/"
  in_tree apt-get install -y --no-install-recommends "/tmp/$(basename "$1")" >"$LOGS/apt-$2.log" 2>&1 ||
    { tail -n 30 "$LOGS/apt-$2.log" >&2; fail "apt-get install of $(basename "$1") on $CODENAME failed"; }
}

# Starts what the installed desktop entry's Exec line names, in the tree, as a desktop
# launcher would: from the home folder, the line split at blanks (it has no field codes).
start_entry() {
  local entry=$TREE/usr/share/applications/korvane-flash-utility.desktop exec_line
  exec_line=$(sed -n 's/^Exec=//p' "$entry")
  [ -n "$exec_line" ] || fail "the desktop entry has no Exec line"
  case $exec_line in *%* | *\"* | *\'*) fail "the Exec line '$exec_line' needs a launcher's expansion" ;; esac
  echo "Exec=$exec_line"
  # shellcheck disable=SC2086 # the Exec line is split at blanks, as a launcher does
  chroot "$TREE" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 DISPLAY="$DISPLAY" \
    QT_QPA_PLATFORM=xcb QVX_VIRTUAL_DRIVES=/tmp/drives QVX_NO_REBOOT=1 \
    /bin/sh -c 'cd "$HOME" && exec "$@"' sh $exec_line >"$LOGS/program-$1.log" 2>&1 &
  APP_PID=$!
  _pids+=("$APP_PID")
}

wait_window() {
  local pattern=$1 i id
  for i in $(seq 1 300); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$APP_PID" 2>/dev/null || { cat "$LOGS/program-$2.log" >&2; fail "the program ended before '$pattern' showed"; }
    sleep 0.1
  done
  cat "$LOGS/program-$2.log" >&2
  fail "no window '$pattern' within 30 s"
}

shot() {
  sleep 0.5
  import -window root "$SHOTS/$CODENAME-$1.png"
  echo "screenshot: $SHOTS/$CODENAME-$1.png"
}

# The whole check on a fresh tree of release CODENAME.
check_on() {
  CODENAME=$1
  LOGS=$WORK/$CODENAME
  TREE=$LOGS/tree
  mkdir -p "$LOGS"
  echo "== a fresh $CODENAME tree from $MIRROR =="
  mmdebstrap --variant=minbase "$CODENAME" "$TREE" \
    "deb $MIRROR $CODENAME main" "deb $MIRROR $CODENAME-updates main" \
    "deb $SECURITY_MIRROR $CODENAME-security main" >"$LOGS/mmdebstrap.log" 2>&1 ||
    { tail -n 20 "$LOGS/mmdebstrap.log" >&2; fail "mmdebstrap $CODENAME failed"; }
  echo "$(. "$TREE/etc/os-release" && echo "$PRETTY_NAME"), made after $(elapsed)"
  # Name resolution for apt inside the tree.
  cp /etc/resolv.conf "$TREE/etc/resolv.conf"
  mount -t proc proc "$TREE/proc"

  echo "== apt-get install ./$(basename "$release_deb") on $CODENAME =="
  in_tree apt-get update >"$LOGS/apt-update.log" 2>&1 || { cat "$LOGS/apt-update.log" >&2; fail "apt-get update failed"; }
  local before after id title link
  before=$(in_tree dpkg-query -W -f='${Package}\n' | wc -l)
  install_deb "$release_deb" release
  after=$(in_tree dpkg-query -W -f='${Package}\n' | wc -l)
  echo "installed with $((after - before - 1)) packages it pulled in, after $(elapsed)"

  mkdir -p "$TREE/tmp/drives/a" "$TREE/tmp/drives/b"
  printf 'vendor=KORVANE\nproduct=QVX-5500\nrevision=VQ8A\naddress=1-0-0\n' >"$TREE/tmp/drives/a/drive"
  printf 'vendor=KORVANE\nproduct=QVX-5500\nrevision=VQ10\naddress=1-1-0\n' >"$TREE/tmp/drives/b/drive"

  echo "== the release, started by its desktop entry =="
  start_entry release
  id=$(wait_window '^Warning$' release)
  shot release-warning
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --clearmodifiers Return # Yes is the default button
  id=$(wait_window '^Korvane' release)
  title=$(xdotool getwindowname "$id")
  [ "$title" = "$RELEASE_CAPTION" ] || fail "caption '$title', expected '$RELEASE_CAPTION'"
  echo "main window: '$title'"
  shot release-window
  kill "$APP_PID"
  wait "$APP_PID" 2>/dev/null || true

  echo "== the template's package in its place =="
  install_deb "$template_deb" template
  in_tree dpkg-query -W -f='${Package} ${Status}\n' 'korvane-flash-*' | grep ' installed$' >"$LOGS/installed" || true
  [ "$(cat "$LOGS/installed")" = "korvane-flash-vqxxxx install ok installed" ] ||
    fail "installed after the template's package: $(cat "$LOGS/installed")"
  start_entry template
  id=$(wait_window '\[Buiding\]$' template)
  title=$(xdotool getwindowname "$id")
  [ "$title" = "$TEMPLATE_CAPTION" ] || fail "caption '$title', expected '$TEMPLATE_CAPTION'"
  link=$(readlink "$TREE/root/QVX-5500 releases/W2KVQXXXX.EXE") || fail "no template link in the release folder"
  [ "$link" = /usr/lib/korvane-flash-vqxxxx/W2KVQXXXX.EXE ] || fail "the release folder's template links to $link"
  echo "build mode: '$title', in ~/QVX-5500 releases"
  shot template-window
  kill "$APP_PID"
  wait "$APP_PID" 2>/dev/null || true
  remove_tree
  TREE=
  echo "$CODENAME: passed after $(elapsed)"
}

for codename in "${codenames[@]}"; do
  check_on "$codename"
done
echo "fresh-tree install check passed on ${codenames[*]} in $(elapsed)"
