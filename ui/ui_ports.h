// The small seams between the program's logic and whatever shows it to the user.
// Nothing here knows about widgets: the Qt window implements these, tests script them.
#pragma once

#include <string>
#include <vector>

namespace ui {

// The kind of a message dialog sets its icon and its title.
enum class DialogKind { Warning, Error, Confirmation, Information };

enum class Button { None, Yes, No, Ok };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // The message dialog: a text, a kind and a set of buttons (in the order given).
    // Returns the button pressed, Button::None when the dialog was closed without one.
    virtual Button messageDialog(const std::string& text, DialogKind kind,
                                 const std::vector<Button>& buttons) = 0;

    // The plain message box: the text and one OK button, titled with the application title.
    virtual void showMessage(const std::string& text) = 0;

    // A message box with a title of its own and one OK button, owned by no window.
    virtual void messageBox(const std::string& text, const std::string& title) = 0;
};

// The caption of GroupBox2: the status line of a flash or a build.
// The text shows while a request is in flight and while a build runs.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void setCaption(const std::string& text) = 0;
    virtual std::string caption() const = 0;
};

// The screen cursor: the hourglass while a flash or a build runs.
class BusyCursor {
public:
    virtual ~BusyCursor() = default;
    virtual void setBusy(bool busy) = 0;
};

// Asks the application to end once its event loop runs (exit code 0, no further dialog).
class QuitRequest {
public:
    virtual ~QuitRequest() = default;
    virtual void postQuit() = 0;
};

} // namespace ui
