// Dialogs and a status line that answer nothing and show nothing, for benchmarks that time
// the procedures alone.
#pragma once

#include "ui_ports.h"

#include <string>
#include <vector>

class QuietDialogs : public ui::Dialogs {
public:
    ui::Button messageDialog(const std::string&, ui::DialogKind, const std::vector<ui::Button>&) override
    {
        return ui::Button::None;
    }
    void showMessage(const std::string& text) override { lastMessage = text; }
    void messageBox(const std::string&, const std::string&) override {}
    std::string lastMessage;
};

class QuietStatus : public ui::StatusLine {
public:
    void setCaption(const std::string& text) override { caption_ = text; }
    std::string caption() const override { return caption_; }

private:
    std::string caption_;
};
