// The program: names the application, creates the window, lets its creation handler
// decide the mode, and runs the event loop. The exit code is always 0.
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
