// What start-up does to the window's controls, as a small interface: TMainForm
// implements it, tests record it.
#pragma once

#include "discovery.h"

#include <string>
#include <vector>

namespace app {

using scsi::DriveLine;

class MainView {
public:
    virtual ~MainView() = default;
    virtual void setWindowCaption(const std::string& caption) = 0;
    virtual void setDriveListVisible(bool visible) = 0;   // ComboBox1
    virtual void setFileListsVisible(bool visible) = 0;   // FileListBox1 and FileListBox2
    virtual void setSelectLabel2Visible(bool visible) = 0;
    virtual void setFileMasks(const std::string& list1Mask, const std::string& list2Mask) = 0;
    virtual void setFileList1Directory(const std::string& directory) = 0;
    virtual void setSelectLabelTexts(const std::string& label1, const std::string& label2) = 0;
    virtual void setButton(const std::string& caption, bool enabled) = 0;
    virtual void setDriveLines(const std::vector<DriveLine>& lines) = 0;
    virtual void selectDriveLine(int index) = 0; // -1: no selection
};

} // namespace app
