#include "file_selection.h"

#include "texts.h"

namespace builder {

std::string fileNamePart(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileSelection::ClickResult FileSelection::pickIbmK(const std::string& fullPath, bool otherListHasSelection)
{
    ibmKPath_ = fullPath;
    ibmKName_ = fileNamePart(fullPath);
    buttonEnabled_ = buttonEnabled_ || otherListHasSelection;
    return {ui::localized(UI_TEXT("Builder", "IBM-K BIN file: %1"), {ui::bytesText(ibmKName_)}), otherListHasSelection};
}

FileSelection::ClickResult FileSelection::pickNonIbmK(const std::string& fullPath, bool otherListHasSelection)
{
    nonIbmKPath_ = fullPath;
    nonIbmKName_ = fileNamePart(fullPath);
    buttonEnabled_ = buttonEnabled_ || otherListHasSelection;
    return {ui::localized(UI_TEXT("Builder", "NonIBM-K BIN file: %1"), {ui::bytesText(nonIbmKName_)}), otherListHasSelection};
}

} // namespace builder
