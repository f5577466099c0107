// The drive system the program uses: the machine's own optical drives, or, when the
// environment variable QVX_VIRTUAL_DRIVES is set and not empty, the virtual drives kept in
// the folder it names (format in virtual_drive.h).
#pragma once

#include "drive_system.h"

#include <memory>

namespace scsi {

std::unique_ptr<DriveSystem> makeSystemDriveSystem();

} // namespace scsi
