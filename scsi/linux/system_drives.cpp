#include "system_drives.h"

#include "linux_pass_through.h"

#include <cstdlib>

namespace scsi {

std::unique_ptr<DriveSystem> makeSystemDriveSystem()
{
    return sg::makeLinuxDriveSystem();
}

} // namespace scsi
