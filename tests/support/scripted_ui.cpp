#include "scripted_ui.h"

namespace ui {
namespace {

SeenEvent seen(std::string kind, std::string text = {}, std::string title = {})
{
    SeenEvent e;
    e.kind = std::move(kind);
    e.text = std::move(text);
    e.title = std::move(title);
    return e;
}

} // namespace

std::string dialogKindTitle(DialogKind kind)
{
    switch (kind) {
    case DialogKind::Warning: return "Warning";
    case DialogKind::Error: return "Error";
    case DialogKind::Confirmation: return "Confirm";
    case DialogKind::Information: return "Information";
    }
    return "Information";
}

std::vector<std::string> UiLog::lines() const
{
    std::vector<std::string> out;
    out.reserve(events_.size());
    for (const auto& e : events_) {
        if (e.kind == "dialog")
            out.push_back("dialog " + dialogKindTitle(e.dialogKind) + ": " + e.text);
        else if (e.kind == "box")
            out.push_back("box " + e.title + ": " + e.text);
        else
            out.push_back(e.kind + ": " + e.text);
    }
    return out;
}

Button ScriptedDialogs::messageDialog(const std::string& text, DialogKind kind,
                                      const std::vector<Button>& buttons)
{
    Button answer = fallback_;
    if (!script_.empty()) {
        answer = script_.front();
        script_.pop_front();
    }
    SeenEvent e = seen("dialog", text, dialogKindTitle(kind));
    e.dialogKind = kind;
    e.buttons = buttons;
    e.answer = answer;
    log_.add(std::move(e));
    return answer;
}

void ScriptedDialogs::showMessage(const std::string& text)
{
    log_.add(seen("message", text));
}

void ScriptedDialogs::messageBox(const std::string& text, const std::string& title)
{
    log_.add(seen("box", text, title));
}

void RecordingStatusLine::setCaption(const std::string& text)
{
    caption_ = text;
    log_.add(seen("caption", text));
}

void RecordingCursor::setBusy(bool busy)
{
    busy_ = busy;
    log_.add(seen("cursor", busy ? "busy" : "default"));
}

void RecordingQuit::postQuit()
{
    ++count_;
    log_.add(seen("quit"));
}

} // namespace ui
