// The application object: names the application as a whole, keeps the window's paints
// from waiting for an X server, and shows an exception that escapes an event handler in a
// message box, after which the program goes on.
#pragma once

#include <QApplication>

#include <functional>
#include <string>

namespace app {

class FlashApplication : public QApplication {
public:
    FlashApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The exception display: by default a message box titled with the application
    // title; tests replace it.
    static void showException(const std::string& what);
    std::function<void(const std::string&)> exceptionDisplay;
};

// Sets the application title as the application's name (task bar, desktop entry). The
// display name stays unset: on X11 Qt appends a set display name to every window title
// that lacks it, and the main window's caption must stay exactly as the program sets it.
void nameApplication();

} // namespace app
