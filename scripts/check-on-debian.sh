#!/usr/bin/env bash
# Runs the README's commands on a fresh minimal Debian tree of another release, as a
# newcomer's machine of that release would: only Debian's minimal system (mmdebstrap
# --variant=minbase, from DEBIAN_MIRROR, default deb.debian.org, with the release's
# -updates and -security suites) and what the commands themselves install.
#
#   scripts/check-on-debian.sh [--quick] [--keep] RELEASE
#
# RELEASE is a Debian codename (trixie, bookworm, ...). Needs root (mmdebstrap, chroot,
# mounts) and the package archive. The sources are this working tree's tracked and
# untracked (not ignored) files as they are now, copied to /root/korvane-flash in the tree,
# where, as root:
#   default    scripts/test.sh: both builds, every test, the reproducible-build check
#   --quick    scripts/run.sh (the main job), then scripts/build.sh build (the build with
#              warnings on) and every test of that build (ctest: unit, e2e, packaging and
#              the kernel rig); not the sanitizer build nor the reproducible-build check
# The tree gets /proc, /sys, /dev (with /dev/pts and /dev/shm), a fresh /run, and itself
# as a mount point for /, in a mount namespace of this script's own, so the mounts go away
# whatever way it ends; processes left running in the tree are ended first.
# The tree is WORKDIR/tree, WORKDIR being $CHECK_ON_DEBIAN_WORK or
# .cache/check-on-debian/RELEASE, removed at the end unless --keep. The Debian packages
# downloaded are kept in .cache/apt/RELEASE and used again by the next run.
# Exit code: the command's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

quick=0 keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1; shift ;;
    --keep) keep=1; shift ;;
    -*) sed -n '2,25p' "$0" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || { sed -n '2,25p' "$0" >&2; exit 2; }
release=$1
[ "$(id -u)" -eq 0 ] || { echo "check-on-debian: needs root (mmdebstrap, chroot and mounts)" >&2; exit 2; }
command -v mmdebstrap >/dev/null || { echo "check-on-debian: mmdebstrap is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }

# A mount namespace of its own: every mount below goes away with it.
if [ -z "${CHECK_ON_DEBIAN_NS:-}" ]; then
  args=("$release")
  [ "$quick" -eq 0 ] || args=(--quick "${args[@]}")
  [ "$keep" -eq 0 ] || args=(--keep "${args[@]}")
  CHECK_ON_DEBIAN_NS=1 exec unshare --mount --propagation private bash "$0" "${args[@]}"
fi

mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${DEBIAN_SECURITY_MIRROR:-${mirror%/debian}/debian-security}
work=$(readlink -m "${CHECK_ON_DEBIAN_WORK:-$root/.cache/check-on-debian/$release}")
tree=$work/tree
cache=$root/.cache/apt/$release
src=/root/korvane-flash
started=$(date +%s)

say() { echo "check-on-debian: $*"; }
elapsed() { echo "$(($(date +%s) - started)) s"; }

mounted=()
mount_in() { # mount_in TARGET MOUNT-ARGS...: mounts into the tree and notes it for cleanup
  local target=$1
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
}

# The processes whose root is the tree: started in it by the command (a D-Bus daemon, say).
tree_processes() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$tree" ] && echo "${p#/proc/}"
  done
  return 0
}

cleanup() {
  local status=$? pids i
  pids=$(tree_processes)
  if [ -n "$pids" ]; then
    say "ending what is left running in the tree: $(echo $pids)"
    kill $pids 2>/dev/null || true
    sleep 1
    pids=$(tree_processes)
    [ -z "$pids" ] || kill -KILL $pids 2>/dev/null || true
  fi
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[$i]}" 2>/dev/null || umount -lR "${mounted[$i]}" 2>/dev/null || true
  done
  if [ -d "$tree/var/cache/apt/archives" ]; then
    mkdir -p "$cache"
    find "$tree/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -n -t "$cache" {} + 2>/dev/null || true
  fi
  if [ "$keep" -eq 0 ] && [ -d "$tree" ] && ! grep -q " $tree[/ ]" /proc/self/mounts; then
    rm -rf --one-file-system "$tree"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Never through a mount point left in an old tree.
grep -q " $tree[/ ]" /proc/self/mounts && { say "something is still mounted under $tree" >&2; exit 1; }
rm -rf --one-file-system "$tree"
mkdir -p "$work" "$cache"

say "a fresh minimal $release tree from $mirror in $tree"
mmdebstrap --variant=minbase "$release" "$tree" \
  "deb $mirror $release main" "deb $mirror $release-updates main" \
  "deb $security_mirror $release-security main" >"$work/mmdebstrap.log" 2>&1 ||
  { tail -n 20 "$work/mmdebstrap.log" >&2; say "mmdebstrap failed (log: $work/mmdebstrap.log)" >&2; exit 1; }
say "$(. "$tree/etc/os-release" && echo "$PRETTY_NAME"), $(chroot "$tree" dpkg-query -W -f='.\n' | wc -l) packages, made in $(elapsed)"

# Packages downloaded by an earlier run: apt takes them when they are still the archive's.
cached=$(find "$cache" -maxdepth 1 -name '*.deb' | wc -l)
if [ "$cached" -gt 0 ]; then
  cp -n "$cache"/*.deb "$tree/var/cache/apt/archives/"
  say "$cached packages from earlier runs in $cache offered to apt"
fi

# The sources as this working tree holds them.
bash "$root/scripts/copy-sources.sh" "$tree$src"

# A machine's mounts: the tree is a mount point itself (as / is; unshare needs that).
mount_in "$tree" --bind "$tree"
mount_in "$tree/proc" -t proc proc
mount_in "$tree/sys" -t sysfs sysfs
mount_in "$tree/dev" --rbind /dev
mount_in "$tree/run" -t tmpfs -o mode=755 tmpfs
cp /etc/resolv.conf "$tree/etc/resolv.conf"

if [ "$quick" -eq 1 ]; then
  what="scripts/run.sh, then scripts/build.sh build and ctest --test-dir build"
  script='bash scripts/run.sh && bash scripts/build.sh build &&
          ctest --test-dir build --output-on-failure -j2 --timeout 900'
else
  what="scripts/test.sh"
  script='bash scripts/test.sh'
fi
say "running $what in $src"
command_started=$(date +%s)
status=0
chroot "$tree" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" ${CI:+CI="$CI"} \
  /bin/bash -c "cd $src && $script" </dev/null || status=$?
gcc=$(chroot "$tree" g++ -dumpfullversion 2>/dev/null || echo "?")
qt=$(chroot "$tree" dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || echo "?")
result=passed
[ "$status" -eq 0 ] || result="FAILED (exit code $status)"
say "$release (GCC $gcc, Qt $qt): $what $result in $(($(date +%s) - command_started)) s; $(elapsed) in all"
exit "$status"
