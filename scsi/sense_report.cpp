#include "sense_report.h"

#include <cstdio>

namespace scsi {

std::string directSenseText(const DirectRecord& r)
{
    using namespace record;
    char text[64];
    const unsigned status = r[kScsiStatus];
    if (r[kSenseInfoLength] != 0) {
        std::snprintf(text, sizeof text, "Scsi status: %02Xh, SensCode: %02X %02X %02X", status,
                      static_cast<unsigned>(r[kSenseBuffer + 2]),
                      static_cast<unsigned>(r[kSenseBuffer + 12]),
                      static_cast<unsigned>(r[kSenseBuffer + 13]));
    } else {
        std::snprintf(text, sizeof text, "Scsi status: %02Xh", status);
    }
    return text;
}

void PrintDirectSenseInfo(const DirectRecord& record, ui::Dialogs& dialogs)
{
    dialogs.showMessage(directSenseText(record));
}

} // namespace scsi
