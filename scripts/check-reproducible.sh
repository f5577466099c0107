#!/usr/bin/env bash
# Builds the program twice from the same sources, the second time in another folder, later,
# under another umask and environment, and checks that nothing of where, when or how it was
# built reaches what is handed out: the template, a release built by it, and the Debian
# package of that release. In the spirit of reprotest.
#
#   scripts/check-reproducible.sh [--keep] [WORKDIR]
#
# WORKDIR (default: a new folder under TMPDIR, removed at the end unless --keep) is made
# afresh. What varies between the two runs:
#
#                  first                         second
#   sources        WORKDIR/one/korvane-flash     WORKDIR/second-run/src/qvx-5500-utility
#   build tree     inside the sources: build     beside them: WORKDIR/second-run/obj
#   file times     as copied (now)               every source file dated 2001-09-09
#   build time     first                         minutes later
#   umask          0022                          0002
#   TZ, LC_ALL     UTC, C.UTF-8                  Pacific/Chatham, C
#   HOME           WORKDIR/one/home              WORKDIR/second-run/home
#
# Each run is a clean configure and build of the program alone (no tests, no benchmarks)
# with no compiler cache, so the second reuses nothing of the first; the sources are the
# tracked and untracked (not ignored) files of this working tree as they are now. Then:
#   1. the two templates (W2KVQXXXX.EXE as linked) must be byte for byte the same, and so
#      must their copies after `strip`;
#   2. each template builds W2KVQ8E10.EXE from the same two generated firmware files with
#      its own Build button, in its run's folder, umask and time (scripts/road.sh
#      --build-only, on a virtual display): the two releases must be the same;
#   3. scripts/package.sh packs each release, once with SOURCE_DATE_EPOCH set and once
#      without it (the releases' modification times made equal): the packages must be the same.
# On a difference it says which files differ and where: with diffoscope when it is
# installed, otherwise with cmp and, for program files, the sections the differences lie in.
# Exit code 0 only when everything matches.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

keep=0
[ "${1:-}" = "--keep" ] && { keep=1; shift; }
[ $# -le 1 ] || { sed -n '2,33p' "$0" >&2; exit 2; }
if [ $# -eq 1 ]; then
  work=$(readlink -m "$1")
  rm -rf "$work"
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/check-reproducible-XXXXXX")
fi
[ "$keep" -eq 1 ] || trap 'rm -rf "$work"' EXIT

one=$work/one
two=$work/second-run
src1=$one/korvane-flash bld1=$one/korvane-flash/build
src2=$two/src/qvx-5500-utility bld2=$two/obj
failed=0

note() { echo "== $*"; }

# The sections of an ELF file that hold the differing bytes of two files of one size.
elf_sections() {
  /usr/bin/python3 - "$1" "$2" <<'PY'
import struct, sys
a, b = (open(p, "rb").read() for p in sys.argv[1:3])
diffs = [i for i in range(min(len(a), len(b))) if a[i] != b[i]]
if len(a) != len(b):
    print("   sizes %d and %d" % (len(a), len(b)))
if not a.startswith(b"\x7fELF") or a[4] != 2:
    sys.exit()
shoff, = struct.unpack_from("<Q", a, 0x28)
shentsize, shnum, shstrndx = struct.unpack_from("<HHH", a, 0x3a)
sections = []
for k in range(shnum):
    name, _, _, _, off, size = struct.unpack_from("<IIQQQQ", a, shoff + k * shentsize)
    sections.append([name, off, size])
stroff = sections[shstrndx][1]
where = {}
for i in diffs:
    hit = "(headers or between sections)"
    for name, off, size in sections:
        if off <= i < off + size:
            hit = a[stroff + name:a.index(b"\0", stroff + name)].decode()
    where[hit] = where.get(hit, 0) + 1
for name, count in sorted(where.items()):
    print("   %s: %d differing bytes" % (name, count))
PY
}

# Compares two files that must be the same; says where they differ when they do not.
same() {
  local what=$1 a=$2 b=$3
  if cmp -s "$a" "$b"; then
    echo "   same: $what ($(sha256sum <"$a" | cut -c1-64))"
    return 0
  fi
  echo "   DIFFER: $what" >&2
  echo "     $a" >&2
  echo "     $b" >&2
  if command -v diffoscope >/dev/null; then
    diffoscope --no-progress "$a" "$b" >&2 || true
  else
    cmp "$a" "$b" >&2 || true
    echo "   $(cmp -l "$a" "$b" 2>/dev/null | wc -l) differing bytes; the first ones (offset, octal values):" >&2
    cmp -l "$a" "$b" 2>/dev/null | head -n 8 | sed 's/^/     /' >&2 || true
    case $a in
      *.deb) diff <(dpkg-deb -c "$a") <(dpkg-deb -c "$b") | sed 's/^/     /' >&2 || true ;;
      *) elf_sections "$a" "$b" >&2 ;;
    esac
    echo "   (install diffoscope for a full account)" >&2
  fi
  failed=1
  return 1
}

# One run: a clean configure and build of the program with no compiler cache.
build_program() {
  local src=$1 bld=$2 log=$3
  env -u CMAKE_CXX_COMPILER_LAUNCHER -u CMAKE_C_COMPILER_LAUNCHER CCACHE_DISABLE=1 \
    cmake -S "$src" -B "$bld" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLASH_BENCHMARKS=OFF >"$log" 2>&1 &&
  env -u CMAKE_CXX_COMPILER_LAUNCHER CCACHE_DISABLE=1 \
    cmake --build "$bld" --target flashutil -j"$(nproc)" >>"$log" 2>&1 ||
  { tail -n 30 "$log" >&2; echo "FAIL: the build in $bld failed (log: $log)" >&2; exit 1; }
}

# The release that a template builds with its Build button, in FOLDER.
build_release() {
  bash "$root/scripts/road.sh" --build-only --shots "$2/shots" "$1" "$2" >"$2.log" 2>&1 ||
  { cat "$2.log" >&2; echo "FAIL: the template $1 did not build its release" >&2; exit 1; }
}

package() {
  mkdir -p "$2"
  bash "$root/scripts/package.sh" "$1" "$2" 2>&1 >/dev/null | sed 's/^/   /' >&2
  local debs=("$2"/*.deb)
  [ -f "${debs[0]}" ] || { echo "FAIL: no package in $2" >&2; exit 1; }
  echo "${debs[0]}"
}

start=$(date +%s)
note "first run: $src1, umask 0022, TZ=UTC, LC_ALL=C.UTF-8"
bash "$root/scripts/copy-sources.sh" "$src1"
mkdir -p "$one/home"
(
  umask 0022
  export TZ=UTC LC_ALL=C.UTF-8 HOME=$one/home
  build_program "$src1" "$bld1" "$one/build.log"
  build_release "$bld1/app/W2KVQXXXX.EXE" "$one/release"
)
echo "   built in $(($(date +%s) - start)) s"

start=$(date +%s)
note "second run: $src2, build tree $bld2, umask 0002, TZ=Pacific/Chatham, LC_ALL=C, sources dated 2001-09-09"
bash "$root/scripts/copy-sources.sh" "$src2"
find "$src2" -exec touch -h -d '2001-09-09 01:46:40' {} +
mkdir -p "$two/home"
(
  umask 0002
  export TZ=Pacific/Chatham LC_ALL=C HOME=$two/home
  build_program "$src2" "$bld2" "$two/build.log"
  build_release "$bld2/app/W2KVQXXXX.EXE" "$two/release-folder"
)
echo "   built in $(($(date +%s) - start)) s"

note "the templates"
t1=$bld1/app/W2KVQXXXX.EXE t2=$bld2/app/W2KVQXXXX.EXE
same "template as linked" "$t1" "$t2" || true
strip -o "$work/stripped-1" "$t1"
strip -o "$work/stripped-2" "$t2"
same "template after strip" "$work/stripped-1" "$work/stripped-2" || true
echo "   modes as linked: $(stat -c %a "$t1") and $(stat -c %a "$t2") (the umask; not part of the file's bytes)"

note "the releases"
r1=$one/release/W2KVQ8E10.EXE r2=$two/release-folder/W2KVQ8E10.EXE
same "W2KVQ8E10.EXE" "$r1" "$r2" || true

note "the packages"
sde=$(date -d '2026-01-02 03:04:05 UTC' +%s)
d1=$( (umask 0022; cd "$one"; SOURCE_DATE_EPOCH=$sde package "$r1" "$one/deb-sde") )
sleep 1
d2=$( (umask 0002; cd "$two"; SOURCE_DATE_EPOCH=$sde TZ=Pacific/Chatham package "$r2" "$two/deb-sde") )
same "package, SOURCE_DATE_EPOCH=$sde" "$d1" "$d2" || true
touch -d '2026-03-04 05:06:07 UTC' "$r1" "$r2"
d1=$( (umask 0022; cd "$one"; unset SOURCE_DATE_EPOCH; package "$r1" "$one/deb-mtime") )
sleep 1
d2=$( (umask 0002; cd "$two"; unset SOURCE_DATE_EPOCH; TZ=Pacific/Chatham package "$r2" "$two/deb-mtime") )
same "package, dated by the release's modification time" "$d1" "$d2" || true

if [ "$failed" -ne 0 ]; then
  echo "FAIL: the two runs differ (work folder: $work)" >&2
  [ "$keep" -eq 1 ] || echo "   run with --keep to keep it" >&2
  exit 1
fi
echo "reproducible: the template, the release and its package are the same from both runs"
