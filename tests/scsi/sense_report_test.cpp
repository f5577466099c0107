#include "sense_report.h"

#include "scripted_ui.h"

#include <gtest/gtest.h>

namespace scsi {
namespace {

DirectRecord completed(std::uint8_t status, std::uint8_t senseLength, std::uint8_t key,
                       std::uint8_t asc, std::uint8_t ascq)
{
    DirectRecord r{};
    r[2] = status;
    r[7] = senseLength;
    r[48] = 0x70;
    r[50] = key;
    r[60] = asc;
    r[61] = ascq;
    return r;
}

TEST(SenseReport, TextsOfTheReport)
{
    // CHECK CONDITION with 18 sense bytes, invalid field in CDB.
    EXPECT_EQ(directSenseText(completed(0x02, 18, 0x05, 0x24, 0x00)),
              "Scsi status: 02h, SensCode: 05 24 00");
    // The same status with no sense bytes returned: the sense buffer is not looked at.
    EXPECT_EQ(directSenseText(completed(0x02, 0, 0x05, 0x24, 0x00)), "Scsi status: 02h");
    // The sense key byte is shown whole, flag bits included.
    EXPECT_EQ(directSenseText(completed(0x02, 18, 0x85, 0x24, 0x00)),
              "Scsi status: 02h, SensCode: 85 24 00");
    // High bytes stay unsigned and upper case.
    EXPECT_EQ(directSenseText(completed(0xFF, 1, 0xFF, 0xAB, 0xCD)),
              "Scsi status: FFh, SensCode: FF AB CD");
    EXPECT_EQ(directSenseText(completed(0x08, 0, 0, 0, 0)), "Scsi status: 08h");
}

TEST(SenseReport, ShowsExactlyOneMessage)
{
    ui::UiLog log;
    ui::ScriptedDialogs dialogs(log);
    PrintDirectSenseInfo(completed(0x02, 18, 0x04, 0x44, 0x00), dialogs);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"message: Scsi status: 02h, SensCode: 04 44 00"}));
}

} // namespace
} // namespace scsi
