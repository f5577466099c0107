// The program: names the application, creates the window, lets its creation handler
// decide the mode, and runs the event loop. The exit code is always 0.
#include "build_procedure.h"
#include "drive_search.h"
#include "flash_application.h"
#include "flash_session.h"
#include "linux_inhibitor.h"
#include "linux_restart.h"
#include "linux_platform.h"
#include "main_form.h"
#include "program_state.h"
#include "program_texts.h"
#include "qt_ui.h"
#include "qt_waiter.h"
#include "system_drives.h"
#include "translations.h"

#include <exception>
#include <optional>

int main(int argc, char** argv)
{
    app::FlashApplication application(argc, argv);
    app::installTranslations(application);
    try {
        app::ProgramState state;
        state.drives = scsi::makeSystemDriveSystem();
        app::QtQuitRequest quit;
        const app::LinuxOsIdentity os;
        // The program's own file: read once, used for the caption, the flash's revisions
        // and the builder's messages alike.
        const app::ProcSelfExePath ownPath(argc > 0 && argv[0] ? argv[0] : "");
        const app::ProcessCurrentDirectory currentDirectory;

        app::TMainForm form(state);
        // Every box of the window opens over it, start-up's too.
        app::QtDialogs dialogs(&form);
        // The template is looked up, and the new program written, in the current directory.
        builder::BuildProcedure build(".", ownPath.ownPath(), state.progress, form.statusLine(), dialogs);
        form.buildAction = [&] {
            build.NewBuildFlashProgram(state.fileSelection);
            state.outputProgramName = build.outputName();
        };
        // The Flash button: each drive request runs on a worker thread while the window keeps
        // answering the window system; the button is disabled and the window stays open
        // while a flash runs; the restart goes through logind, and so does the lock that
        // keeps the machine up and awake while the drive takes the image.
        app::QtWaiter waiter;
        flash::LinuxRestart restart;
        flash::LogindInhibitor inhibitor(app::kApplicationTitle);
        std::optional<flash::FlashSession> flashSession;
        if (state.drives)
            flashSession.emplace(
                flash::FlashWindow{[&form] { return form.driveIndex(); },
                                   [&form](bool enabled) { form.setButton(ui::localized(app::kFlashCaption), enabled); }, dialogs,
                                   form.statusLine(), form.cursor()},
                flash::FlashState{state.driveTable, state.deviceAccess, *state.drives, state.progress,
                                  ownPath.ownPath()},
                waiter, restart, inhibitor);
        form.flashAction = [&] {
            if (flashSession)
                flashSession->click();
        };
        form.mayClose = [&] { return !flashSession || flashSession->mayClose(); };
        const app::StartupEnvironment env{dialogs, quit, os, ownPath, currentDirectory,
                                          app::makeDriveSearch()};
        // Start-up's boxes have all been closed when FormCreate returns; a quit it asked
        // for ends the program here, before the window shows.
        if (form.FormCreate(env) != app::StartupOutcome::Quit && !quit.posted())
            form.show();
        quit.runEventLoop();
    } catch (const std::exception& e) {
        app::FlashApplication::showException(e.what());
    }
    return 0;
}
