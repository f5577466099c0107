// The Qt side of the user-interface seams: message dialogs, the busy cursor, the quit request.
#pragma once

#include "ui_ports.h"

#include <QString>

class QWidget;

namespace app {

// Program texts are 8-bit; they reach Qt byte for byte.
QString toQt(const std::string& text);
std::string fromQt(const QString& text);

class QtDialogs : public ui::Dialogs {
public:
    ui::Button messageDialog(const std::string& text, ui::DialogKind kind,
                             const std::vector<ui::Button>& buttons) override;
    void showMessage(const std::string& text) override;
    void messageBox(const std::string& text, const std::string& title) override;
};

class QtBusyCursor : public ui::BusyCursor {
public:
    ~QtBusyCursor() override;
    void setBusy(bool busy) override;
    bool busy() const { return busy_; }

private:
    bool busy_ = false;
};

// Asks the application to quit once its event loop runs; a request made before the loop
// starts waits for it, and for any message box opened meanwhile to be closed. posted() lets
// start-up leave the window hidden.
class QtQuitRequest : public ui::QuitRequest {
public:
    void postQuit() override;
    bool posted() const { return posted_; }

private:
    bool posted_ = false;
};

} // namespace app
