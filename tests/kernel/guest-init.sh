#!/bin/busybox sh
# The first process of the rig's emulated machine: loads the SCSI CD-ROM modules, runs the
# guest program's scenarios, prints "QVX-RIG-RESULT <failed scenarios>" and powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

for m in $(cat /modules/order); do
  insmod "/modules/$m.ko" || echo "RIG insmod $m failed"
done

# The drives appear once the bus has been scanned.
i=0
while [ "$(ls /sys/class/block | grep -c '^sr')" -lt 3 ] && [ $i -lt 300 ]; do
  sleep 0.1
  i=$((i + 1))
done
while [ "$(ls /sys/class/scsi_generic 2>/dev/null | wc -l)" -lt 3 ] && [ $i -lt 300 ]; do
  sleep 0.1
  i=$((i + 1))
done
ls -l /dev/sr* /dev/sg*

failed=0
run() {
  echo "RIG BEGIN $1"
  if /rig/guest "$1"; then
    echo "RIG PASS $1"
  else
    echo "RIG FAIL $1"
    failed=$((failed + 1))
  fi
}

# Root, node rights as the kernel makes them.
run discovery
run flash-empty
run flash-disc
run write-buffer-disc

node=$(/rig/guest node-of F)
if mount -t iso9660 -o ro "$node" /mnt; then
  run flash-mounted
  umount /mnt
else
  echo "RIG FAIL flash-mounted: cannot mount $node"
  failed=$((failed + 1))
fi

# The flash's exclusive claim stops the kernel's media polling of the drive: count the
# commands the kernel sends to F (target 2) with polling every 100 ms, unclaimed and claimed.
tracing=/sys/kernel/tracing
if mount -t tracefs tracefs $tracing && [ -e $tracing/events/scsi/scsi_dispatch_cmd_start/enable ]; then
  echo 100 > "/sys/block/${node#/dev/}/events_poll_msecs"
  echo 1 > $tracing/events/scsi/scsi_dispatch_cmd_start/enable
  echo > $tracing/trace
  sleep 1
  free=$(grep -c 'id=2 lun=0' $tracing/trace)
  # Counting starts once the claim is held (the program may take long to start here).
  /rig/guest hold F 3000 > /tmp/hold.log &
  i=0
  while ! grep -q 'holding F' /tmp/hold.log && [ $i -lt 200 ]; do
    sleep 0.05
    i=$((i + 1))
  done
  cat /tmp/hold.log
  echo > $tracing/trace
  sleep 1
  held=$(grep -c 'id=2 lun=0' $tracing/trace)
  wait
  echo 0 > "/sys/block/${node#/dev/}/events_poll_msecs"
  echo "RIG polling of F: $free commands in 1 s unclaimed, $held while claimed"
  if [ "$free" -gt 0 ] && [ "$held" -eq 0 ]; then
    echo "RIG PASS polling"
  else
    echo "RIG FAIL polling"
    failed=$((failed + 1))
  fi
else
  echo "RIG FAIL polling: no scsi trace events"
  failed=$((failed + 1))
fi

# A user without rights on the nodes, then one with the rights udev's uaccess tag grants.
chmod 600 /dev/sg*
chmod 660 /dev/sr*
[ -e $tracing/trace ] && echo > $tracing/trace
run no-rights
# ... and nothing reached any drive: the refusal came at open.
if [ -e $tracing/trace ]; then
  sent=$(grep -c 'scsi_dispatch_cmd_start' $tracing/trace)
  echo "RIG commands sent while the user had no rights: $sent"
  if [ "$sent" -ne 0 ]; then
    echo "RIG FAIL no-rights: commands reached a drive"
    failed=$((failed + 1))
  fi
fi
chmod 666 /dev/sg* /dev/sr*
[ -e $tracing/trace ] && echo > $tracing/trace
run granted
# (the same count sees this user's requests: the zero above is no blind spot)
if [ -e $tracing/trace ]; then
  sent=$(grep -c 'scsi_dispatch_cmd_start' $tracing/trace)
  echo "RIG commands sent by the user with rights: $sent"
  if [ "$sent" -eq 0 ]; then
    echo "RIG FAIL granted: the trace saw no command"
    failed=$((failed + 1))
  fi
fi

# Without the sg module the block nodes carry the requests.
if rmmod sg; then
  run no-sg
else
  echo "RIG FAIL no-sg: cannot unload sg"
  failed=$((failed + 1))
fi

# -- the drive model behind the kernel's SCSI target -------------------------------------
# QEMU's drives leave and sg comes back; three TCMU backstores, served by the handler with
# the program's drive model, join on a loopback host (target 1, LUNs 0 to 2):
#   D  KORVANE QVX-5500 VQ8A   E  KORVANE QVX-5500 VQ1A   F  KORVANE QVX-7000 VQ8E
insmod /modules/sg.ko || echo "RIG insmod sg failed"
for d in /sys/class/scsi_device/*; do echo 1 > "$d/device/delete"; done
grep -q ' /sys/kernel/config ' /proc/mounts || mount -t configfs configfs /sys/kernel/config
grep -q " $tracing " /proc/mounts || mount -t tracefs tracefs $tracing
# Every SCSI trace event (dispatch, done, time-out, error handling), shown beside what
# the user saw.
echo 1 > $tracing/events/scsi/enable
target=/sys/kernel/config/target
tpg=$target/loopback/naa.5001405000000001/tpgt_1
mkdir -p /rig/drives
for drive in "d0 QVX-5500 VQ8A" "d1 QVX-5500 VQ1A" "d2 QVX-7000 VQ8E"; do
  set -- $drive
  mkdir -p "/rig/drives/$1"
  printf 'vendor=KORVANE\nproduct=%s\nrevision=%s\n' "$2" "$3" > "/rig/drives/$1/drive.base"
  cp "/rig/drives/$1/drive.base" "/rig/drives/$1/drive"
  dev=$target/core/user_1/$1
  mkdir -p "$dev"
  echo -n "dev_config=qvx//rig/drives/$1" > "$dev/control"
  echo -n "dev_size=1048576" > "$dev/control"
  # Longer than the 3 s of a WRITE BUFFER piece, so the initiator's time-out comes first.
  echo 6 > "$dev/attrib/cmd_time_out"
  echo 1 > "$dev/enable" || echo "RIG cannot enable the backstore $1"
done
# The handler serves the rings before any LUN exists: the kernel's scan waits on it.
/rig/qvx_tcmu_handler 10 > /tmp/tcmu.log 2>&1 &
echo $! > /tmp/tcmu.pid
i=0
while [ "$(grep -c '^TCMU serving' /tmp/tcmu.log)" -lt 3 ] && [ $i -lt 100 ]; do
  sleep 0.1
  i=$((i + 1))
done
cat /tmp/tcmu.log
mkdir -p "$tpg"
echo naa.5001405000000002 > "$tpg/nexus"
lun=0
for name in d0 d1 d2; do
  mkdir -p "$tpg/lun/lun_$lun"
  ln -s "$target/core/user_1/$name" "$tpg/lun/lun_$lun/$name"
  # What the handler runs when the drive vanishes: the device leaves the target.
  printf 'rm %s\nrmdir %s\n' "$tpg/lun/lun_$lun/$name" "$tpg/lun/lun_$lun" > "/rig/drives/$name/take-away"
  lun=$((lun + 1))
done
i=0
while { [ "$(ls /sys/class/block | grep -c '^sr')" -lt 3 ] \
        || [ "$(ls /sys/class/scsi_generic | wc -l)" -lt 3 ]; } && [ $i -lt 300 ]; do
  sleep 0.1
  i=$((i + 1))
done
ls -l /dev/sr* /dev/sg*
# The real program, pressed through its window as a user would (tests/e2e/flash_e2e.py),
# under Xvfb: the host's root, shared read-only, lends Qt, Xvfb and Python (chroot); the
# program and its driver come in the initramfs; the drive it flashes is D of this kernel.
# It runs first, on a drive fresh from the scan.
if [ -n "${qvx_window:-}" ]; then
  echo "RIG BEGIN window-flash"
  mkdir -p /host /dev/shm
  mount -t tmpfs tmpfs /dev/shm
  if mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /host; then
    mount -t proc proc /host/proc
    mount -t sysfs sysfs /host/sys
    mount --bind /dev /host/dev
    for d in /tmp /run /var/lib/xkb; do
      [ -d "/host$d" ] && mount -t tmpfs tmpfs "/host$d"
    done
    mkdir -p /host/tmp/drive /host/tmp/out
    cp -r /rig/window /host/tmp/window
    mount --bind /rig/drives/d0 /host/tmp/drive
    mount -t 9p -o trans=virtio,version=9p2000.L rigout /host/tmp/out
    if chroot /host /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/tmp LANG=C.UTF-8 \
         /usr/bin/python3 /tmp/window/flash_e2e.py /tmp/window/W2KVQXXXX.EXE kernel \
         --kernel-drive /tmp/drive --shots /tmp/out; then
      echo "RIG PASS window-flash"
    else
      echo "RIG FAIL window-flash"
      failed=$((failed + 1))
    fi
    umount /host/tmp/out /host/tmp/drive
  else
    echo "RIG FAIL window-flash: cannot mount the host's root"
    failed=$((failed + 1))
  fi
fi
for scenario in $(/rig/guest tcmu-scenarios); do
  run "$scenario"
done
kill "$(cat /tmp/tcmu.pid)"

echo "QVX-RIG-RESULT $failed"
poweroff -f
