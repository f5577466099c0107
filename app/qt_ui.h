// The Qt side of the user-interface seams: message dialogs, the busy cursor, the quit request.
#pragma once

#include "ui_ports.h"

#include <QString>

class QWidget;

namespace app {

// The program's texts are UTF-8 (ui/texts.h).
QString toQt(const std::string& text);
std::string fromQt(const QString& text);
// What the program reads as bytes (drive labels, device nodes, file names and paths)
// reaches Qt byte for byte, each as its Latin-1 character, and comes back the same.
QString bytesToQt(const std::string& bytes);
std::string bytesFromQt(const QString& bytes);

class QtDialogs : public ui::Dialogs {
public:
    // owner: the window that the message dialogs and plain boxes open over and are modal
    // to. The boxes with a title of their own (the restart's) belong to no window.
    explicit QtDialogs(QWidget* owner = nullptr)
        : owner_(owner)
    {
    }

    ui::Button messageDialog(const std::string& text, ui::DialogKind kind,
                             const std::vector<ui::Button>& buttons) override;
    void showMessage(const std::string& text) override;
    void messageBox(const std::string& text, const std::string& title) override;

private:
    QWidget* owner_;
};

class QtBusyCursor : public ui::BusyCursor {
public:
    QtBusyCursor();
    ~QtBusyCursor() override;
    void setBusy(bool busy) override;
    bool busy() const { return busy_; }

private:
    bool busy_ = false;
};

// The quit request of start-up ("ask the event loop to end, exit code 0"). Start-up runs
// before the event loop and may open more message boxes after the request; each box runs
// an event loop of its own, and a quit delivered there would either close the box unread
// or be dropped, leaving the program running with no window. So the request is only
// recorded, and the program's event loop acts on it itself: runEventLoop() does not run
// once a quit was posted. A request made while that loop runs ends it.
class QtQuitRequest : public ui::QuitRequest {
public:
    void postQuit() override;
    bool posted() const { return posted_; }

    // The application's event loop: returns 0 at once when a quit was posted before it,
    // otherwise runs until the application quits and returns its exit code.
    int runEventLoop();

private:
    bool posted_ = false;
    bool running_ = false;
};

} // namespace app
