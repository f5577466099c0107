// A main view that writes what start-up does to the controls into the same ordered log
// as the scripted dialogs, so a test sees controls and dialogs in one sequence.
#pragma once

#include "main_view.h"
#include "scripted_ui.h"

namespace app::test {

class RecordingView : public MainView {
public:
    explicit RecordingView(ui::UiLog& log) : log_(log) {}

    void setWindowCaption(const std::string& c) override { caption = c; add("caption " + c); }
    void setDriveListVisible(bool v) override { driveListVisible = v; add(std::string("drive list ") + (v ? "shown" : "hidden")); }
    void setFileListsVisible(bool v) override { fileListsVisible = v; add(std::string("file lists ") + (v ? "shown" : "hidden")); }
    void setSelectLabel2Visible(bool v) override { label2Visible = v; add(std::string("label 2 ") + (v ? "shown" : "hidden")); }
    void setFileMasks(const std::string& a, const std::string& b) override { mask1 = a; mask2 = b; add("masks " + a + " | " + b); }
    void setFileList1Directory(const std::string& d) override { directory1 = d; add("directory " + d); }
    void setSelectLabelTexts(const std::string& a, const std::string& b) override { label1 = a; label2 = b; add("labels " + a + " | " + b); }
    void setButton(const std::string& c, bool e) override { button = c; buttonEnabled = e; add("button " + c + (e ? " enabled" : " disabled")); }
    void setDriveLines(const std::vector<DriveLine>& l) override { lines = l; add("lines " + std::to_string(l.size())); }
    void selectDriveLine(int i) override { selection = i; add("select " + std::to_string(i)); }

    std::string caption, mask1, mask2, directory1, label1, label2, button;
    bool driveListVisible = true, fileListsVisible = true, label2Visible = true, buttonEnabled = true;
    std::vector<DriveLine> lines;
    int selection = -2;

private:
    void add(const std::string& text)
    {
        ui::SeenEvent e;
        e.kind = "view";
        e.text = text;
        log_.add(e);
    }
    ui::UiLog& log_;
};

} // namespace app::test
