// The state that the window, start-up, the flash and the build share for the whole run.
// main() owns the one instance and hands it to everything that needs it.
#pragma once

#include "file_selection.h"
#include "progress_model.h"

#include "device_access.h"
#include "drive_system.h"
#include "drive_table.h"

#include <memory>
#include <string>

namespace app {

struct ProgramState {
    bool buildMode = false;            // the mode flag: slot 1 holds the empty-slot marker
    std::string ownPath;               // full path of the running program file
    std::unique_ptr<scsi::DriveSystem> drives; // the machine's drives, or the virtual ones
    scsi::DriveTable driveTable;       // entry k belongs to line k of ComboBox1
    scsi::DeviceAccess deviceAccess;   // the one open device handle
    ui::ProgressModel progress;        // what ProgressBar shows; offsets and lengths of requests
    builder::FileSelection fileSelection; // the two picked firmware files of build mode
    std::string outputProgramName;     // the name of the last program built
};

} // namespace app
