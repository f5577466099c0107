#include "program_texts.h"

#include <algorithm>

namespace app {

std::string buildModeCaption()
{
    return std::string(kTitleWithVersion) + kModel + kBuildModeSuffix;
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
    return std::string(kTitleWithVersion) + kModel + captionSuffix(ownPath);
}

std::string startWarningText()
{
    return std::string("\nWARNING:") + "\n\nThis flash utility only supports Korvane " + kModel
        + " firmware:" + kFirmwareRange
        + "\n\nWe recommend you close all applications in order to run this update!\n"
          "Don't turn off the system while the flash is in progress!\n\n\nDo you wish to continue?\n";
}

std::string noDriveErrorHead()
{
    return std::string("\nERROR:\n") + "\nCan't found " + kModel + "firmware:" + kFirmwareRange
        + " drive !\n" + "\nThis flash utility only supports " + kModel + " firmware:"
        + kFirmwareRange + "\n" + "\nDetected drives:\n" + std::string(59, '-') + "\n";
}

} // namespace app
