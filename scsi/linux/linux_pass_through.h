// The Linux drive system: the optical drives from sysfs, opened through their SCSI
// generic node and driven with SG_IO.
//
// Which nodes are opened, and why:
// - Requests go through the drive's sg node opened read/write (O_RDWR | O_NONBLOCK).
//   On an sg node opened read/write the kernel lets every command through, so the
//   node's permissions alone decide who may send WRITE BUFFER; a user without them
//   gets EACCES when the drive is opened, before any request is sent.
// - A flash (OpenMode::Exclusive) also opens the block node O_RDWR | O_NONBLOCK |
//   O_EXCL and holds it while the device lives: nothing else can claim the drive, the
//   open fails with EBUSY while a disc of it is mounted, and the kernel stops polling
//   the drive for media meanwhile (it does so only for a claim opened for writing; a
//   read-only O_EXCL claim leaves the polling on). O_NONBLOCK makes the CD-ROM driver
//   skip its disc checks, so the write open works on an empty drive too.
// - Without an sg node (the sg module is not loaded) the block node carries the
//   requests (opened read-only for identification, as above for a flash). The kernel then lets WRITE BUFFER through only to a process with
//   CAP_SYS_RAWIO, so the open fails with EPERM for a process without it.
// O_NONBLOCK keeps an empty tray from blocking the open or closing the tray.
#pragma once

#include "drive_system.h"
#include "linux_drive_list.h"

#include <memory>

namespace scsi::sg {

// Opens one drive as described above.
OpenResult openOpticalDrive(const OpticalDrive& drive, OpenMode mode);

// True when this process holds CAP_SYS_RAWIO in its effective set.
bool hasRawIoCapability();

// The drive system over the drives that listOpticalDrives finds under paths.
std::unique_ptr<DriveSystem> makeLinuxDriveSystem(SystemPaths paths = {});

} // namespace scsi::sg
