#!/usr/bin/env bash
# The real-kernel rig: boots Debian's own kernel under QEMU (software emulation) with three
# emulated SCSI CD-ROM drives on a virtio-scsi bus, and runs the rig's guest program
# (tests/kernel/rig_guest.cpp) inside it against them. Then the guest serves the drive
# model itself behind the kernel's SCSI target (TCMU backstores on a loopback host, the
# handler tests/kernel/tcmu_handler.cpp) and runs the flash through those drives.
#
#   run-rig.sh GUEST_PROGRAM [CACHE_DIR] [WINDOW_PROGRAM]
#
# The handler is the program qvx_tcmu_handler beside GUEST_PROGRAM. With WINDOW_PROGRAM (the
# built program) and Xvfb, xdotool, ImageMagick and python3-pyatspi on this machine, the
# guest also runs WINDOW_PROGRAM under Xvfb and flashes through its window
# (tests/e2e/flash_e2e.py, case "kernel"): this machine's root is shared with the guest
# read-only for Qt, Xvfb and Python, and the guest runs the two there (chroot) against its
# own kernel's drives.
# QVX_RIG_SHOTS=DIR keeps that run's screenshots in DIR.
# Everything comes from Debian's package archive: qemu-system-x86, busybox-static,
# genisoimage and cpio are installed when missing; the kernel package is fetched with
# `apt-get download` and unpacked with `dpkg -x` into CACHE_DIR (default .cache/kernel of
# the project), never installed. Exit status: 0 when every check in the guest held,
# 1 when one failed or the guest did not finish, 77 when the rig cannot run here (no
# package archive, no QEMU).
set -euo pipefail

skip_code=77
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
guest=${1:?usage: run-rig.sh GUEST_PROGRAM [CACHE_DIR]}
cache=${2:-$project/.cache/kernel}
window_program=${3:-}
boot_timeout=${QVX_RIG_TIMEOUT:-360}

say() { echo "rig: $*"; }
skip() { echo "SKIPPED: $*"; exit "$skip_code"; }

[ -x "$guest" ] || { say "no guest program at $guest"; exit 1; }
handler=$(dirname "$guest")/qvx_tcmu_handler
[ -x "$handler" ] || { say "no handler program at $handler"; exit 1; }

# -- host tools ------------------------------------------------------------------------
declare -A tool_package=(
  [qemu-system-x86_64]=qemu-system-x86
  [genisoimage]=genisoimage
  [cpio]=cpio
)
missing=()
for tool in "${!tool_package[@]}"; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("${tool_package[$tool]}")
done
# The guest's shell and tools: the static busybox (a dynamic one would need its libraries).
busybox=/bin/busybox
if ! dpkg-query -W -f='${Status}' busybox-static 2>/dev/null | grep -q 'install ok installed'; then
  missing+=(busybox-static)
fi
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo -n)
  say "installing ${missing[*]}"
  if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}" >/dev/null 2>&1; then
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null 2>&1 || true
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}" >/dev/null 2>&1 \
      || skip "cannot install ${missing[*]} from the package archive"
  fi
fi

# -- kernel ----------------------------------------------------------------------------
mkdir -p "$cache"
kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null \
  | awk '/Depends: linux-image-[0-9]/ { print $2; exit }' || true)
unpacked=""
if [ -n "$kernel_package" ]; then
  unpacked="$cache/$kernel_package"
  if [ ! -f "$unpacked/.complete" ]; then
    say "fetching $kernel_package"
    work=$(mktemp -d "$cache/download.XXXXXX")
    if (cd "$work" && apt-get download -q "$kernel_package" >/dev/null 2>&1); then
      rm -rf "$unpacked"
      dpkg -x "$work"/*.deb "$unpacked"
      touch "$unpacked/.complete"
    else
      unpacked=""
    fi
    rm -rf "$work"
  fi
fi
if [ -z "$unpacked" ]; then
  # No archive: a kernel fetched earlier still does.
  unpacked=$(ls -d "$cache"/linux-image-*/ 2>/dev/null | sort -V | tail -n 1 || true)
  unpacked=${unpacked%/}
  [ -n "$unpacked" ] && [ -f "$unpacked/.complete" ] \
    || skip "no kernel package: the package archive cannot be reached and nothing is cached"
fi
vmlinuz=$(ls "$unpacked"/boot/vmlinuz-* | head -n 1)
# Under lib/modules, or under usr/lib/modules where the release has merged /usr into /
# (the kernel package then ships its modules there).
modroot=$(ls -d "$unpacked"/lib/modules/*/ "$unpacked"/usr/lib/modules/*/ 2>/dev/null | head -n 1 || true)
[ -n "$modroot" ] || { say "no kernel modules in $unpacked (looked in lib/modules and usr/lib/modules)"; exit 1; }
say "kernel $(basename "$vmlinuz")"

# -- initramfs -------------------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/qvx-rig.XXXXXX")
trap 'rm -rf "$work"' EXIT
initrd_root="$work/root"
mkdir -p "$initrd_root"/{bin,proc,sys,dev,mnt,modules,rig,tmp}
cp "$busybox" "$initrd_root/bin/busybox"

# The modules of the SCSI CD-ROM path and their dependencies (from each module's own
# "depends=" field; the package carries no modules.dep), loaded dependencies first; those
# built into the kernel are left out.
declare -A module_file=()
while IFS=$'\t' read -r base file; do
  name=${base%%.ko*}
  module_file[${name//-/_}]=$file
done < <(find "$modroot/kernel" -name '*.ko*' -printf '%f\t%p\n')
module_depends() {
  local file=${module_file[$1]:?kernel module $1 not in the package}
  case "$file" in
    *.ko.xz) xz -dc "$file" ;;
    *.ko.zst) zstd -dcq "$file" ;;
    *.ko.gz) gzip -dc "$file" ;;
    *) cat "$file" ;;
  esac | tr '\0' '\n' | sed -n 's/^depends=//p' | tr ',' ' '
}
# Modules built into the kernel need no loading; the package's modules.builtin names them
# (in some releases' kernels virtio_pci and the CRC modules are built in).
declare -A builtin=()
if [ -f "$modroot/modules.builtin" ]; then
  while read -r path; do
    name=${path##*/}
    name=${name%%.ko*}
    builtin[${name//-/_}]=1
  done <"$modroot/modules.builtin"
fi
declare -A placed=()
order=()
place() {
  [ -n "${placed[$1]:-}" ] && return 0
  placed[$1]=1
  [ -n "${builtin[$1]:-}" ] && return 0
  local dep
  for dep in $(module_depends "$1"); do place "${dep//-/_}"; done
  order+=("$1")
}
# Then the SCSI target: configfs, uio and the CRC the target core asks the crypto API for
# (by name, so no "depends=" names it) before the target core, its user backstore and the
# loopback host.
for m in virtio_pci virtio_scsi sr_mod sg isofs \
         configfs uio crct10dif_common crct10dif_generic crc_t10dif \
         target_core_mod target_core_user tcm_loop 9pnet_virtio 9p; do
  place "$m"
done
for m in "${order[@]}"; do
  file=${module_file[$m]}
  case "$file" in
    *.ko.xz) xz -dc "$file" > "$initrd_root/modules/$m.ko" ;;
    *.ko.zst) zstd -dcq "$file" > "$initrd_root/modules/$m.ko" ;;
    *.ko.gz) gzip -dc "$file" > "$initrd_root/modules/$m.ko" ;;
    *) cp "$file" "$initrd_root/modules/$m.ko" ;;
  esac
done
printf '%s\n' "${order[@]}" > "$initrd_root/modules/order"

# The guest program, the handler and the shared libraries they load.
place_program() {
  cp "$1" "$initrd_root/rig/$2"
  local lib interp
  for lib in $(ldd "$1" | awk '/=> \// { print $3 } /^\t\/[^ ]+ \(/ { print $1 }'); do
    mkdir -p "$initrd_root$(dirname "$lib")"
    cp -L "$lib" "$initrd_root$lib"
  done
  # The loader must sit at the path the program names.
  interp=$(ldd "$1" | awk '/ld-linux/ { print ($3 ~ /^\// ? $3 : $1) }' | head -n 1)
  mkdir -p "$initrd_root$(dirname "$interp")"
  [ -e "$initrd_root$interp" ] || cp -L "$interp" "$initrd_root$interp"
}
place_program "$guest" guest
place_program "$handler" qvx_tcmu_handler

# -- the window, if it can be had --------------------------------------------------------
window_args=()
window_append=""
memory=512
if [ -n "$window_program" ]; then
  window_missing=()
  for tool in Xvfb xdotool import dbus-run-session /usr/bin/python3; do
    command -v "$tool" >/dev/null 2>&1 || window_missing+=("$tool")
  done
  [ -d /usr/lib/python3/dist-packages/pyatspi ] || window_missing+=(python3-pyatspi)
  if [ ${#window_missing[@]} -gt 0 ]; then
    say "no window run: missing ${window_missing[*]} (scripts/install-deps.sh installs them)"
  else
    memory=2048
    window_args=(-virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap"
      -virtfs "local,path=$work/out,mount_tag=rigout,security_model=none")
    window_append=" qvx_window=1"
    # The program and the driver go in the initramfs: the guest hides the host's /tmp
    # (and /run) behind its own, where a checkout may well live.
    mkdir -p "$work/out" "$initrd_root/rig/window"
    cp "$window_program" "$initrd_root/rig/window/W2KVQXXXX.EXE"
    cp "$project/tests/e2e/flash_e2e.py" "$project/scripts/road_ui.py" "$initrd_root/rig/window/"
  fi
fi

cp "$here/guest-init.sh" "$initrd_root/init"
chmod 755 "$initrd_root/init"
(cd "$initrd_root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initrd.gz"

# A small ISO 9660 disc for the drives that hold one.
mkdir -p "$work/disc"
echo "disc of the kernel rig" > "$work/disc/README.TXT"
genisoimage -quiet -V QVXRIG -o "$work/disc1.iso" "$work/disc"
cp "$work/disc1.iso" "$work/disc2.iso"

# -- boot ------------------------------------------------------------------------------
# no_timer_check: under software emulation on a busy host the kernel's check of the timer
# interrupt can miss its ticks and end the boot with "IO-APIC + timer doesn't work".
say "booting (software emulation, at most ${boot_timeout}s)"
log="$work/console.log"
set +e
timeout --kill-after=10 "$boot_timeout" qemu-system-x86_64 \
  -nographic -no-reboot -accel tcg -m "$memory" -smp 1 -nic none \
  -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 panic=-1 loglevel=4 no_timer_check rdinit=/init$window_append" \
  "${window_args[@]}" \
  -device virtio-scsi-pci,id=scsi0 \
  -drive if=none,id=cd0,media=cdrom \
  -device scsi-cd,bus=scsi0.0,drive=cd0,scsi-id=0,lun=0,vendor=KORVANE,product=QVX-5500,ver=VQ8E \
  -drive if=none,id=cd1,media=cdrom,format=raw,readonly=on,file="$work/disc1.iso" \
  -device scsi-cd,bus=scsi0.0,drive=cd1,scsi-id=1,lun=0,vendor=KORVANE,product=QVX-9000,ver=VQ10 \
  -drive if=none,id=cd2,media=cdrom,format=raw,readonly=on,file="$work/disc2.iso" \
  -device scsi-cd,bus=scsi0.0,drive=cd2,scsi-id=2,lun=0,vendor=KORVANE,product=QVX-5500,ver=VQ8E \
  </dev/null >"$log" 2>&1
qemu_status=$?
set -e
tr -d '\r' < "$log"
if [ -n "${QVX_RIG_SHOTS:-}" ] && [ -d "$work/out" ]; then
  mkdir -p "$QVX_RIG_SHOTS"
  cp -r "$work/out/." "$QVX_RIG_SHOTS/" 2>/dev/null || true
fi

result=$(tr -d '\r' < "$log" | sed -n 's/^QVX-RIG-RESULT \([0-9][0-9]*\)$/\1/p' | tail -n 1)
if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
  say "the guest did not finish within ${boot_timeout}s"
  exit 1
fi
if [ -z "$result" ]; then
  say "the guest ended without a result (QEMU exit status $qemu_status)"
  exit 1
fi
if [ "$result" -ne 0 ]; then
  say "$result scenario(s) failed in the guest"
  exit 1
fi
say "every scenario held"
