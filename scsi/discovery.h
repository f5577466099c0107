// Drive discovery: every CD-ROM root of the drive system is identified with CheckInquiry;
// each supported drive becomes one line of the drive list and one entry of the drive table.
#pragma once

#include "device_access.h"
#include "drive_system.h"
#include "drive_table.h"

#include "texts.h"
#include "ui_ports.h"

#include <string>
#include <vector>

namespace scsi {

// One line of the drive list, with the device node a user recognises the drive by.
struct DriveLine {
    std::string text;
    std::string node;
    bool operator==(const DriveLine&) const = default;
};

struct DiscoveryResult {
    std::vector<DriveLine> lines; // lines[k]: entry k's label and node, line k of the drive list
    // Each drive that answered but is not supported: its label and "\n", as a text. The
    // window adds this to its error text, shown when no drive was accepted.
    std::string unsupportedLines;
    // Supported drives found when the table was already full: their labels. They are not
    // listed and no entry is written for them; the user is told once (kTableFullText).
    std::vector<std::string> notListed;
    int selection = -1; // -1 when none was accepted, else the last line
};

// Shown once after discovery when more supported drives answered than the table holds,
// followed by their labels, one a line.
inline constexpr ui::Text kTableFullText =
    UI_TEXT("Requests", "Only four drives can be listed. These drives were found but are not listed:\n");

// Entry k of the table is used for the k-th accepted drive; a drive that is not accepted
// leaves its entry to the next CD-ROM drive. An open failure shows "Error opening: N" and
// posts the quit request, and the remaining drives are still examined. Roots of other
// drive types are not opened.
DiscoveryResult discoverDrives(DriveTable& table, DeviceAccess& access, DriveSystem& drives,
                               ui::Dialogs& dialogs, ui::QuitRequest& quit);

} // namespace scsi
