#include "sense_report.h"

#include "texts.h"

#include <cstdio>

namespace scsi {
namespace {

// A byte as two capital hex digits, as %02X prints it.
std::string hex(std::uint8_t byte)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(byte));
    return text;
}

} // namespace

std::string directSenseText(const DirectRecord& r)
{
    using namespace record;
    if (r[kSenseInfoLength] != 0)
        return ui::localized(UI_TEXT("Requests", "Scsi status: %1h, SensCode: %2 %3 %4"),
                             {hex(r[kScsiStatus]), hex(r[kSenseBuffer + 2]), hex(r[kSenseBuffer + 12]),
                              hex(r[kSenseBuffer + 13])});
    return ui::localized(UI_TEXT("Requests", "Scsi status: %1h"), {hex(r[kScsiStatus])});
}

void PrintDirectSenseInfo(const DirectRecord& record, ui::Dialogs& dialogs)
{
    dialogs.showMessage(directSenseText(record));
}

} // namespace scsi
