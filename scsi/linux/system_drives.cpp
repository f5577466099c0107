#include "system_drives.h"

#include "linux_pass_through.h"
#include "virtual_drive.h"

#include <cstdlib>

namespace scsi {

std::unique_ptr<DriveSystem> makeSystemDriveSystem()
{
    const char* folder = std::getenv(kVirtualDrivesVariable);
    if (folder != nullptr && *folder != '\0')
        return makeFolderDriveSystem(folder);
    return sg::makeLinuxDriveSystem();
}

} // namespace scsi
