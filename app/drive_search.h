// The drive search that start-up runs in flash mode, over the program's drive system.
#pragma once

#include "startup.h"

namespace app {

// Runs discovery over state.drives (no drive system: no drive found).
DiscoverDrives makeDriveSearch();

} // namespace app
