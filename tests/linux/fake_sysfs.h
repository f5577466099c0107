// A temporary sysfs and /dev tree laid out as the kernel lays out SCSI CD-ROM drives,
// for the enumeration and open tests.
#pragma once

#include "linux_drive_list.h"

#include "temp_folder.h"

#include <filesystem>
#include <string>

namespace testing_linux {

struct FakeDriveSpec {
    int host = 0, channel = 0, target = 0, lun = 0;
    std::string block = "sr0";    // block device name
    std::string generic = "sg0";  // sg name; empty: the sg module is not loaded
    int type = 5;                 // SCSI peripheral type
    bool genericFolder = true;    // the device lists its sg node in scsi_generic/
    bool createNodes = true;      // create the /dev files
};

class FakeSystem {
public:
    FakeSystem();

    void addDrive(const FakeDriveSpec& drive);
    void addDisk(const std::string& name); // a hard disk that must be ignored

    scsi::sg::SystemPaths paths() const;
    std::filesystem::path root() const { return root_.path(); }
    std::filesystem::path sys() const { return root_ / "sys"; }
    std::filesystem::path dev() const { return root_ / "dev"; }

private:
    testsupport::TempFolder root_{"qvx-sysfs"};
};

} // namespace testing_linux
