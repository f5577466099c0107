// The optical drives of this machine, as sysfs describes them: every block device
// sr<N> whose SCSI device has type 5 (CD/DVD), with its SCSI address and its generic
// (sg) node when the sg module is loaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scsi::sg {

// Where sysfs and the device nodes are; tests point both into a temporary tree.
struct SystemPaths {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
};

struct OpticalDrive {
    char letter = 0;          // D, E, ... in the order of the list
    std::string blockName;    // "sr0"
    std::string blockNode;    // "/dev/sr0"
    std::string genericNode;  // "/dev/sg1"; empty when the drive has no sg node
    int host = 0;
    int channel = 0;
    int target = 0;
    int lun = 0;
};

inline constexpr char kFirstDriveLetter = 'D';
inline constexpr char kLastDriveLetter = 'Z';

// The drives, ordered by host, channel, target and LUN (then by sr number), lettered
// from D upward; drives beyond Z are left out.
std::vector<OpticalDrive> listOpticalDrives(const SystemPaths& paths);

} // namespace scsi::sg
