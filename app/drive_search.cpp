#include "drive_search.h"

#include "discovery.h"

namespace app {

DiscoverDrives makeDriveSearch()
{
    return [](ProgramState& state, ui::Dialogs& dialogs, ui::QuitRequest& quit) {
        DriveListing listing;
        if (!state.drives)
            return listing;
        scsi::DiscoveryResult found = scsi::discoverDrives(state.driveTable, state.deviceAccess,
                                                           *state.drives, dialogs, quit);
        listing.lines = std::move(found.lines);
        listing.nodes = std::move(found.nodes);
        listing.unsupportedLines = std::move(found.unsupportedLines);
        listing.selection = found.selection;
        return listing;
    };
}

} // namespace app
