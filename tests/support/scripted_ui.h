// Test stand-ins for the user-interface seams: they answer dialogs from a script and
// keep one ordered log of everything the user would have seen, so a test can assert
// messages, captions and their order in one place.
#pragma once

#include "ui_ports.h"

#include <deque>
#include <string>
#include <vector>

namespace ui {

// One thing the user saw. kind is "dialog", "message", "box", "caption", "cursor" or "quit".
struct SeenEvent {
    std::string kind;
    std::string text;
    std::string title;            // "box": its title; "dialog": the kind's title
    DialogKind dialogKind = DialogKind::Information;
    std::vector<Button> buttons;  // "dialog" only
    Button answer = Button::None; // "dialog" only

    bool operator==(const SeenEvent&) const = default;
};

class UiLog {
public:
    void add(SeenEvent event) { events_.push_back(std::move(event)); }
    const std::vector<SeenEvent>& events() const { return events_; }
    // "kind: text" lines, the easiest form to compare in a test.
    std::vector<std::string> lines() const;
    void clear() { events_.clear(); }

private:
    std::vector<SeenEvent> events_;
};

std::string dialogKindTitle(DialogKind kind); // "Warning", "Error", "Confirm", "Information"

class ScriptedDialogs : public Dialogs {
public:
    explicit ScriptedDialogs(UiLog& log) : log_(log) {}

    // Answers for the coming message dialogs, in order. When the script runs out, the
    // fallback answer is given (Button::None unless set).
    void answer(Button button) { script_.push_back(button); }
    void setFallback(Button button) { fallback_ = button; }
    std::size_t unusedAnswers() const { return script_.size(); }

    Button messageDialog(const std::string& text, DialogKind kind,
                         const std::vector<Button>& buttons) override;
    void showMessage(const std::string& text) override;
    void messageBox(const std::string& text, const std::string& title) override;

private:
    UiLog& log_;
    std::deque<Button> script_;
    Button fallback_ = Button::None;
};

class RecordingStatusLine : public StatusLine {
public:
    explicit RecordingStatusLine(UiLog& log) : log_(log) {}
    void setCaption(const std::string& text) override;
    std::string caption() const override { return caption_; }

private:
    UiLog& log_;
    std::string caption_;
};

class RecordingCursor : public BusyCursor {
public:
    explicit RecordingCursor(UiLog& log) : log_(log) {}
    void setBusy(bool busy) override;
    bool busy() const { return busy_; }

private:
    UiLog& log_;
    bool busy_ = false;
};

class RecordingQuit : public QuitRequest {
public:
    explicit RecordingQuit(UiLog& log) : log_(log) {}
    void postQuit() override;
    int count() const { return count_; }

private:
    UiLog& log_;
    int count_ = 0;
};

} // namespace ui
