// The drive system the program uses: the machine's own optical drives, or, when the
// environment variable QVX_VIRTUAL_DRIVES names a folder, the virtual drives kept there.
#pragma once

#include "drive_system.h"

#include <memory>

namespace scsi {

inline constexpr const char* kVirtualDrivesVariable = "QVX_VIRTUAL_DRIVES";

std::unique_ptr<DriveSystem> makeSystemDriveSystem();

} // namespace scsi
