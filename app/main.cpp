// The program: names the application, creates the window, lets its creation handler
// decide the mode, and runs the event loop. The exit code is always 0.
#include "build_procedure.h"
#include "drive_search.h"
#include "flash_application.h"
#include "linux_platform.h"
#include "main_form.h"
#include "program_state.h"
#include "qt_ui.h"
#include "system_drives.h"

#include <QDir>

#include <exception>

int main(int argc, char** argv)
{
    app::FlashApplication application(argc, argv);
    try {
        app::ProgramState state;
        state.drives = scsi::makeSystemDriveSystem();
        app::QtDialogs dialogs;
        app::QtQuitRequest quit;
        const app::LinuxOsIdentity os;
        const app::ProcSelfExePath ownPath(
            QDir(QDir::currentPath()).absoluteFilePath(QString::fromLocal8Bit(argv[0])).toStdString());
        const app::ProcessCurrentDirectory currentDirectory;

        app::TMainForm form(state);
        // The template is looked up, and the new program written, in the current directory.
        builder::BuildProcedure build(".", argv[0] ? argv[0] : "", state.progress, form.statusLine(), dialogs);
        form.buildAction = [&] {
            build.NewBuildFlashProgram(state.fileSelection);
            state.outputProgramName = build.outputName();
        };
        const app::StartupEnvironment env{dialogs, quit, os, ownPath, currentDirectory,
                                          app::makeDriveSearch()};
        if (form.FormCreate(env) != app::StartupOutcome::Quit && !quit.posted())
            form.show();
        application.exec();
    } catch (const std::exception& e) {
        app::FlashApplication::showException(e.what());
    }
    return 0;
}
