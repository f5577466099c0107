// FormCreate: the start-up of the main window, deciding between build mode and flash
// mode and arranging the window for it. Pure logic over the view, dialogs and system seams.
#pragma once

#include "main_view.h"
#include "platform.h"
#include "program_state.h"
#include "ui_ports.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace app {

// What the drive search found: one line (and device node) per supported drive, a label
// and "\n" for each drive that answered but is not supported, and the list's selection
// (-1 when no drive was accepted).
struct DriveListing {
    std::vector<std::string> lines;
    std::vector<std::string> nodes;
    std::string unsupportedLines;
    int selection = -1;
};

// The drive search. It fills the program's drive table and may itself show messages
// and post a quit request (a drive that cannot be opened).
using DiscoverDrives = std::function<DriveListing(ProgramState&, ui::Dialogs&, ui::QuitRequest&)>;

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
