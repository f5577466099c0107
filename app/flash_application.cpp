#include "flash_application.h"

#include "program_texts.h"
#include "qt_ui.h"

#include <QMessageBox>
#include <QPlatformSurfaceEvent>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
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

// On X11 the window manager and the task bar group windows by the class part of WM_CLASS,
// which Qt takes from the application's name, here the long application title. Each window
// gets the short name that the desktop entry and the Wayland app id carry instead; the
// instance part (the program's file name) stays as Qt set it.
void setWindowClass(QWindow* window)
{
    // Only the xcb platform draws through an X connection; the offscreen one may still answer
    // for X11, without a connection.
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || x11 == nullptr
        || x11->connection() == nullptr || window->handle() == nullptr)
        return;
    xcb_connection_t* connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    if (reply == nullptr)
        return;
    const QByteArray old(static_cast<const char*>(xcb_get_property_value(reply)),
                         xcb_get_property_value_length(reply));
    std::free(reply);
    const qsizetype end = old.indexOf('\0');
    if (end <= 0)
        return;
    const QByteArray value = old.left(end) + '\0' + QGuiApplication::desktopFileName().toLatin1() + '\0';
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(value.size()), value.constData());
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
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle), toQt(what), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool FlashApplication::notify(QObject* receiver, QEvent* event)
{
    // Every window, boxes included, is named before it is first shown.
    if (event->type() == QEvent::PlatformSurface && receiver->isWindowType()
        && static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType()
            == QPlatformSurfaceEvent::SurfaceCreated)
        setWindowClass(static_cast<QWindow*>(receiver));
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        exceptionDisplay(e.what());
    } catch (...) {
        exceptionDisplay(ui::localized(UI_TEXT("MainForm", "An unexpected error occurred.")));
    }
    return false;
}

} // namespace app
