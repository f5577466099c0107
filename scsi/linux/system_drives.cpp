#include "system_drives.h"

#include "linux_pass_through.h"
#include "virtual_drive.h"

#include <string>

namespace scsi {

std::unique_ptr<DriveSystem> makeSystemDriveSystem()
{
    const std::string folder = virtualDrivesFolder();
    if (!folder.empty())
        return makeFolderDriveSystem(folder);
    return sg::makeLinuxDriveSystem();
}

} // namespace scsi
