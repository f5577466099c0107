// The two firmware picks of build mode: what each list's click stores and shows.
#pragma once

#include <string>

namespace builder {

inline constexpr const char* kIbmKMask = "VQ8?.BIN;VQ9?.BIN;";
inline constexpr const char* kNonIbmKMask =
    "VQ0?.BIN;VQ1?.BIN;VQ2?.BIN;VQ3?.BIN;VQ4?.BIN;VQ5?.BIN;VQ6?.BIN;VQ7?.BIN;";

class FileSelection {
public:
    struct ClickResult {
        std::string labelCaption; // the new text of the list's label
        bool enableButton = false; // true: enable the Build button (nothing disables it again)
    };

    // FileListBox1Click: fullPath is the picked item's full path; otherListHasSelection
    // tells whether FileListBox2 has a selected item.
    ClickResult pickIbmK(const std::string& fullPath, bool otherListHasSelection);
    // FileListBox2Click, the same for the other list.
    ClickResult pickNonIbmK(const std::string& fullPath, bool otherListHasSelection);

    // Short names (file-name part) and full paths of the last picks; empty until picked.
    const std::string& ibmKName() const { return ibmKName_; }
    const std::string& nonIbmKName() const { return nonIbmKName_; }
    const std::string& ibmKPath() const { return ibmKPath_; }
    const std::string& nonIbmKPath() const { return nonIbmKPath_; }

    // True once a click has enabled the Build button; it stays true.
    bool buttonEnabled() const { return buttonEnabled_; }

private:
    std::string ibmKName_, nonIbmKName_, ibmKPath_, nonIbmKPath_;
    bool buttonEnabled_ = false;
};

// The file-name part of a path: everything after the last '/'.
std::string fileNamePart(const std::string& path);

} // namespace builder
