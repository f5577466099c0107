#include "fake_sysfs.h"

#include <fstream>

namespace fs = std::filesystem;

namespace testing_linux {

namespace {

void writeFile(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

std::string hctl(const FakeDriveSpec& s)
{
    return std::to_string(s.host) + ":" + std::to_string(s.channel) + ":" + std::to_string(s.target)
        + ":" + std::to_string(s.lun);
}

} // namespace

FakeSystem::FakeSystem()
{
    // Readable by everyone, so that a test child running as another user can look.
    fs::permissions(root_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                        | fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(sys() / "class" / "block");
    fs::create_directories(dev());
}

void FakeSystem::addDrive(const FakeDriveSpec& s)
{
    const std::string address = hctl(s);
    const fs::path host = sys() / "devices" / "pci0000:00" / ("host" + std::to_string(s.host));
    const fs::path device = host
        / ("target" + std::to_string(s.host) + ":" + std::to_string(s.channel) + ":"
           + std::to_string(s.target))
        / address;
    writeFile(device / "type", std::to_string(s.type) + "\n");
    writeFile(device / "vendor", "QEMU    \n");
    fs::create_directories(device / "scsi_device" / address);

    const fs::path block = device / "block" / s.block;
    fs::create_directories(block);
    fs::create_directory_symlink("../../../" + address, block / "device");
    fs::create_directory_symlink(fs::relative(block, sys() / "class" / "block"),
                                 sys() / "class" / "block" / s.block);

    if (!s.generic.empty()) {
        const fs::path generic = device / "scsi_generic" / s.generic;
        fs::create_directories(generic);
        fs::create_directory_symlink("../../../" + address, generic / "device");
        fs::create_directories(sys() / "class" / "scsi_generic");
        fs::create_directory_symlink(fs::relative(generic, sys() / "class" / "scsi_generic"),
                                     sys() / "class" / "scsi_generic" / s.generic);
        if (!s.genericFolder) {
            // Older kernels: the sg node is known only through its class entry.
            fs::rename(device / "scsi_generic", device / "sg-elsewhere");
            fs::remove(sys() / "class" / "scsi_generic" / s.generic);
            fs::create_directory_symlink(
                fs::relative(device / "sg-elsewhere" / s.generic, sys() / "class" / "scsi_generic"),
                sys() / "class" / "scsi_generic" / s.generic);
        }
        if (s.createNodes)
            writeFile(dev() / s.generic, "");
    }
    if (s.createNodes)
        writeFile(dev() / s.block, "");
}

void FakeSystem::addDisk(const std::string& name)
{
    FakeDriveSpec disk;
    disk.host = 9;
    disk.block = name;
    disk.generic = "";
    disk.type = 0;
    addDrive(disk);
}

scsi::sg::SystemPaths FakeSystem::paths() const
{
    return {sys().string(), dev().string()};
}

} // namespace testing_linux
