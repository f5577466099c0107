// The one-line report of a failed WRITE BUFFER or READ BUFFER: the SCSI status byte and,
// when the drive returned sense data, its sense key byte, ASC and ASCQ. Every byte is shown
// whole: a sense key byte with flag bits set (85h) shows as 85, not 05.
#pragma once

#include "records.h"

#include "ui_ports.h"

#include <string>

namespace scsi {

// "Scsi status: %02Xh, SensCode: %02X %02X %02X" when the completed record says sense
// bytes came back (SenseInfoLength != 0), else "Scsi status: %02Xh".
std::string directSenseText(const DirectRecord& record);

// Shows directSenseText in a plain message box and returns when the user has closed it.
void PrintDirectSenseInfo(const DirectRecord& record, ui::Dialogs& dialogs);

} // namespace scsi
