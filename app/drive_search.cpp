#include "drive_search.h"

#include "discovery.h"

namespace app {

DiscoverDrives makeDriveSearch()
{
    return [](ProgramState& state, ui::Dialogs& dialogs, ui::QuitRequest& quit) {
        if (!state.drives)
            return scsi::DiscoveryResult{};
        return scsi::discoverDrives(state.driveTable, state.deviceAccess, *state.drives, dialogs,
                                    quit);
    };
}

} // namespace app
