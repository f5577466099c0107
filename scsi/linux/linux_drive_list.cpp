#include "linux_drive_list.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <system_error>
#include <tuple>

namespace fs = std::filesystem;

namespace scsi::sg {

namespace {

constexpr int kTypeCdRom = 5; // SCSI peripheral device type of CD/DVD drives

std::optional<std::string> readFirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

struct Hctl {
    int host = 0, channel = 0, target = 0, lun = 0;
};

std::optional<Hctl> parseHctl(const std::string& text)
{
    Hctl a;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d:%d:%d:%d%c", &a.host, &a.channel, &a.target, &a.lun, &tail) != 4)
        return std::nullopt;
    if (a.host < 0 || a.channel < 0 || a.target < 0 || a.lun < 0)
        return std::nullopt;
    return a;
}

// The SCSI address of a device directory: its own name (…/0:0:0:0) on a real system,
// otherwise the one entry of its scsi_device folder.
std::optional<Hctl> addressOf(const fs::path& deviceDir)
{
    std::error_code ec;
    const fs::path canonical = fs::canonical(deviceDir, ec);
    if (!ec) {
        if (auto a = parseHctl(canonical.filename().string()))
            return a;
    }
    for (const auto& entry : fs::directory_iterator(deviceDir / "scsi_device", ec)) {
        if (auto a = parseHctl(entry.path().filename().string()))
            return a;
    }
    return std::nullopt;
}

// The number in a name such as sr12 or sg3 (-1 when there is none, or when it does not
// fit an int: no drive of the kernel's has such a name).
int indexOf(const std::string& name, std::size_t prefixLength)
{
    if (name.size() <= prefixLength)
        return -1;
    int value = 0;
    for (std::size_t i = prefixLength; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        const int digit = name[i] - '0';
        if (value > (std::numeric_limits<int>::max() - digit) / 10)
            return -1;
        value = value * 10 + digit;
    }
    return value;
}

// The sg node of a SCSI device: its scsi_generic folder, else the sg entry of
// /sys/class/scsi_generic whose device is the same one.
std::string genericNameOf(const fs::path& deviceDir, const fs::path& sysRoot)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(deviceDir / "scsi_generic", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("sg", 0) == 0 && indexOf(name, 2) >= 0)
            return name;
    }
    const fs::path device = fs::canonical(deviceDir, ec);
    if (ec)
        return {};
    for (const auto& entry : fs::directory_iterator(sysRoot / "class" / "scsi_generic", ec)) {
        const std::string name = entry.path().filename().string();
        std::error_code ec2;
        if (indexOf(name, 2) >= 0 && fs::canonical(entry.path() / "device", ec2) == device && !ec2)
            return name;
    }
    return {};
}

} // namespace

std::vector<OpticalDrive> listOpticalDrives(const SystemPaths& paths)
{
    const fs::path sysRoot(paths.sysRoot);
    struct Found {
        OpticalDrive drive;
        int srIndex;
    };
    std::vector<Found> found;

    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysRoot / "class" / "block", ec)) {
        const std::string name = entry.path().filename().string();
        const int srIndex = name.rfind("sr", 0) == 0 ? indexOf(name, 2) : -1;
        if (srIndex < 0)
            continue;
        const fs::path deviceDir = entry.path() / "device";
        const auto type = readFirstLine(deviceDir / "type");
        if (!type || *type != std::to_string(kTypeCdRom))
            continue;
        const auto address = addressOf(deviceDir);
        if (!address)
            continue;

        Found f{{}, srIndex};
        f.drive.blockName = name;
        f.drive.blockNode = paths.devRoot + "/" + name;
        if (const std::string sg = genericNameOf(deviceDir, sysRoot); !sg.empty())
            f.drive.genericNode = paths.devRoot + "/" + sg;
        f.drive.host = address->host;
        f.drive.channel = address->channel;
        f.drive.target = address->target;
        f.drive.lun = address->lun;
        found.push_back(std::move(f));
    }

    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.drive.host, a.drive.channel, a.drive.target, a.drive.lun, a.srIndex)
            < std::tie(b.drive.host, b.drive.channel, b.drive.target, b.drive.lun, b.srIndex);
    });

    std::vector<OpticalDrive> drives;
    char letter = kFirstDriveLetter;
    for (auto& f : found) {
        if (letter > kLastDriveLetter)
            break;
        f.drive.letter = letter++;
        drives.push_back(std::move(f.drive));
    }
    return drives;
}

} // namespace scsi::sg
