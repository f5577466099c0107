// FormCreate: the start-up of the main window, deciding between build mode and flash
// mode and arranging the window for it. Pure logic over the view, dialogs and system seams.
#pragma once

#include "main_view.h"
#include "platform.h"
#include "program_state.h"
#include "ui_ports.h"

#include "discovery.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace app {

// The drive search. It fills the program's drive table and may itself show messages
// and post a quit request (a drive that cannot be opened).
using DiscoverDrives =
    std::function<scsi::DiscoveryResult(ProgramState&, ui::Dialogs&, ui::QuitRequest&)>;

struct StartupServices {
    MainView& view;
    ui::Dialogs& dialogs;
    ui::QuitRequest& quit;
    const OsIdentity& os;
    const OwnPath& ownPath;
    const CurrentDirectory& currentDirectory;
    DiscoverDrives discover;
};

enum class StartupOutcome {
    BuildMode,  // window arranged for building; show it
    FlashMode,  // drives listed, the first selected; show it
    Quit,       // a quit request was posted; the window is not shown
};

// slot1 and marker are the running program's image slot 1 and its "QORM01" marker
// (flash::slot1(), flash::emptySlotMarker()); tests give their own.
StartupOutcome formCreate(ProgramState& state, std::span<const std::uint8_t> slot1,
                          std::span<const std::uint8_t> marker, const StartupServices& services);

// The no-drive error text: the prepared head, then the unsupported drives' lines.
std::string noDriveErrorText(const std::string& unsupportedLines);

} // namespace app
