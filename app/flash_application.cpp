#include "flash_application.h"

#include "program_texts.h"

#include <QMessageBox>

#include <exception>

namespace app {
namespace {

// Runs before the application connects to the display.
int& beforeTheDisplay(int& argc)
{
    // On X11, Qt hands the window's picture to the server in shared memory, and before it
    // paints over a part the server may still be reading, it asks the server and waits for
    // the answer: a server slow to answer (a busy machine) held the event loop at every
    // paint of the bar. The window is small; its picture goes over the connection instead,
    // and no paint waits for the server. A setting of the user's own is left alone.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    return argc;
}

} // namespace

void nameApplication()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    QGuiApplication::setDesktopFileName(QStringLiteral("korvane-flash-utility"));
}

FlashApplication::FlashApplication(int& argc, char** argv)
    : QApplication(beforeTheDisplay(argc), argv)
    , exceptionDisplay(&FlashApplication::showException)
{
    nameApplication();
}

void FlashApplication::showException(const std::string& what)
{
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle),
                    QString::fromLatin1(what.c_str()), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool FlashApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        exceptionDisplay(e.what());
    } catch (...) {
        exceptionDisplay("An unexpected error occurred.");
    }
    return false;
}

} // namespace app
