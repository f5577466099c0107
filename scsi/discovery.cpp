#include "discovery.h"

#include "requests.h"

namespace scsi {

DiscoveryResult discoverDrives(DriveTable& table, DeviceAccess& access, DriveSystem& drives,
                               ui::Dialogs& dialogs, ui::QuitRequest& quit)
{
    DiscoveryResult result;
    // Once the table is full a further drive is still identified, in an entry of its own
    // outside the table, so that its user learns it was seen.
    DriveEntry scratch;

    for (const DriveRoot& root : drives.driveRoots()) {
        if (root.type != DriveType::CdRom)
            continue;
        const std::size_t k = result.lines.size();
        DriveEntry& entry = k < table.entries.size() ? table.entries[k] : scratch;
        entry.letter = root.letter;
        entry.label.fill('\0');
        entry.inquiry.fill(0);
        entry.node = root.node;

        if (CheckInquiry(entry, access, drives, dialogs, quit)) {
            if (&entry == &scratch) {
                result.notListed.push_back(entry.labelText());
                scratch = DriveEntry{};
                continue;
            }
            result.lines.push_back({entry.labelText(), entry.node});
            result.selection = static_cast<int>(result.lines.size()) - 1;
        } else if (entry.label[0] != '\0') {
            result.unsupportedLines += ui::bytesText(entry.labelText()) + "\n";
        }
    }

    if (!result.notListed.empty()) {
        std::string text = ui::localized(kTableFullText);
        for (const std::string& line : result.notListed)
            text += ui::bytesText(line) + "\n";
        dialogs.showMessage(text);
    }
    return result;
}

} // namespace scsi
