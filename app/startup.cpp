#include "startup.h"

#include "container.h"
#include "program_texts.h"

namespace app {
namespace {

StartupOutcome arrangeBuildMode(const StartupServices& s)
{
    s.view.setDriveListVisible(false);
    s.view.setSelectLabel2Visible(true);
    s.view.setFileListsVisible(true);
    s.view.setFileMasks(builder::kIbmKMask, builder::kNonIbmKMask);
    s.view.setWindowCaption(buildModeCaption());
    s.view.setSelectLabelTexts(ui::localized(kSelectIbmKText), ui::localized(kSelectNonIbmKText));
    s.view.setButton(ui::localized(kBuildCaption), false);
    s.view.setFileList1Directory(s.currentDirectory.currentDirectory());
    return StartupOutcome::BuildMode;
}

StartupOutcome arrangeFlashMode(ProgramState& state, const StartupServices& s)
{
    OsVersion version;
    if (!s.os.version(version) || version.platformId != kPlatformNt) {
        s.dialogs.messageDialog(ui::localized(kWrongSystemText), ui::DialogKind::Warning, {ui::Button::Yes});
        s.quit.postQuit();
        return StartupOutcome::Quit;
    }

    if (s.dialogs.messageDialog(startWarningText(), ui::DialogKind::Warning,
                                {ui::Button::Yes, ui::Button::No})
        != ui::Button::Yes) {
        s.quit.postQuit();
        return StartupOutcome::Quit;
    }

    s.view.setSelectLabel2Visible(false);
    s.view.setFileListsVisible(false);
    s.view.setDriveListVisible(true);

    s.view.setWindowCaption(flashModeCaption(state.ownPath));

    bool quitPosted = false;
    struct Watch : ui::QuitRequest {
        ui::QuitRequest& inner;
        bool& posted;
        Watch(ui::QuitRequest& q, bool& p) : inner(q), posted(p) {}
        void postQuit() override
        {
            posted = true;
            inner.postQuit();
        }
    } watch(s.quit, quitPosted);

    s.view.selectDriveLine(-1);
    scsi::DiscoveryResult found;
    if (s.discover)
        found = s.discover(state, s.dialogs, watch);
    s.view.setDriveLines(found.lines);

    if (found.selection < 0 || found.lines.empty()) {
        s.view.selectDriveLine(-1);
        s.dialogs.messageDialog(noDriveErrorText(found.unsupportedLines), ui::DialogKind::Error,
                                {ui::Button::Ok});
        watch.postQuit();
        return StartupOutcome::Quit;
    }
    s.view.selectDriveLine(0);
    return quitPosted ? StartupOutcome::Quit : StartupOutcome::FlashMode;
}

} // namespace

std::string noDriveErrorText(const std::string& unsupportedLines)
{
    return noDriveErrorHead() + unsupportedLines;
}

StartupOutcome formCreate(ProgramState& state, std::span<const std::uint8_t> slot1,
                          std::span<const std::uint8_t> marker, const StartupServices& services)
{
    state.buildMode = flash::slotIsEmptyMarker(slot1, marker);
    state.ownPath = services.ownPath.ownPath();
    return state.buildMode ? arrangeBuildMode(services) : arrangeFlashMode(state, services);
}

} // namespace app
