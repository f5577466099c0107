// The drive search that start-up runs in flash mode, wired to the program's drive system.
#pragma once

#include "startup.h"

namespace app {

DiscoverDrives makeDriveSearch();

} // namespace app
