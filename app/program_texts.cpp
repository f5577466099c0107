#include "program_texts.h"

#include <algorithm>

namespace app {

std::string buildModeCaption()
{
    return std::string(kTitleWithVersion) + kModel + ui::localized(kBuildModeSuffix);
}

std::string captionSuffix(const std::string& ownPath)
{
    const std::size_t from = ownPath.size() >= 10 ? ownPath.size() - 10 : 0;
    std::string field = ownPath.substr(from, 6);
    // %6.6s stops at a NUL and pads to six on the left.
    field = field.substr(0, std::min(field.find('\0'), field.size()));
    if (field.size() < 6)
        field.insert(0, 6 - field.size(), ' ');
    return " [" + field + "]";
}

std::string flashModeCaption(const std::string& ownPath)
{
    return std::string(kTitleWithVersion) + kModel + ui::bytesText(captionSuffix(ownPath));
}

std::string startWarningText()
{
    return ui::localized(UI_TEXT("MainForm", "\nWARNING:\n\nThis flash utility only supports Korvane %1 firmware:%2"
                                             "\n\nWe recommend you close all applications in order to run this update!\n"
                                             "Don't turn off the system while the flash is in progress!\n\n\n"
                                             "Do you wish to continue?\n"),
                         {kModel, kFirmwareRange});
}

std::string noDriveErrorHead()
{
    return ui::localized(UI_TEXT("MainForm", "\nERROR:\n\nCan't found %1firmware:%2 drive !\n"
                                             "\nThis flash utility only supports %1 firmware:%2\n"
                                             "\nDetected drives:\n"),
                         {kModel, kFirmwareRange})
        + std::string(59, '-') + "\n";
}

} // namespace app
