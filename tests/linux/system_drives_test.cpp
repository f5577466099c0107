// The program's choice of drive system: virtual drives when QVX_VIRTUAL_DRIVES names a
// folder, the machine's drives otherwise.
#include "linux_drive_list.h"
#include "system_drives.h"
#include "virtual_drive.h"

#include "temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class VariableGuard {
public:
    VariableGuard()
    {
        if (const char* v = std::getenv(scsi::kVirtualDrivesVariable))
            saved_ = v, had_ = true;
    }
    ~VariableGuard()
    {
        if (had_)
            ::setenv(scsi::kVirtualDrivesVariable, saved_.c_str(), 1);
        else
            ::unsetenv(scsi::kVirtualDrivesVariable);
    }

private:
    std::string saved_;
    bool had_ = false;
};

} // namespace

TEST(SystemDrives, VariableNamesAFolderOfVirtualDrives)
{
    VariableGuard guard;
    const testsupport::TempFolder folder("qvx-virtual");
    fs::create_directories(folder / "first");
    fs::create_directories(folder / "second");
    std::ofstream(folder / "first" / "drive") << "vendor=KORVANE\nproduct=QVX-5500\nrevision=VQ8E\n";
    std::ofstream(folder / "second" / "drive") << "vendor=OTHER\nproduct=X\nrevision=1\n";

    ::setenv(scsi::kVirtualDrivesVariable, folder.path().c_str(), 1);
    auto roots = scsi::makeSystemDriveSystem()->driveRoots();
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[0].letter, 'D');

    // Unset or empty: the machine's own drives, whatever the folder holds.
    const std::size_t own = scsi::sg::listOpticalDrives({}).size();
    ::setenv(scsi::kVirtualDrivesVariable, "", 1);
    EXPECT_EQ(scsi::makeSystemDriveSystem()->driveRoots().size(), own);
    ::unsetenv(scsi::kVirtualDrivesVariable);
    EXPECT_EQ(scsi::makeSystemDriveSystem()->driveRoots().size(), own);
}
