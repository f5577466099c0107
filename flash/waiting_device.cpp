#include "waiting_device.h"

namespace flash {

WaitingDevice::WaitingDevice(std::unique_ptr<scsi::Device> inner, Waiter& waiter)
    : inner_(std::move(inner)), waiter_(waiter)
{
}

scsi::CallResult WaitingDevice::passThrough(std::uint32_t controlCode, std::span<std::uint8_t> record,
                                            std::uint32_t inputLength, std::uint32_t outputLength,
                                            std::span<std::uint8_t> data)
{
    scsi::CallResult result;
    waiter_.runBlocking([&] {
        result = inner_->passThrough(controlCode, record, inputLength, outputLength, data);
    });
    return result;
}

scsi::CallResult WaitingDevice::queryInquiryData(std::span<std::uint8_t> out)
{
    scsi::CallResult result;
    waiter_.runBlocking([&] { result = inner_->queryInquiryData(out); });
    return result;
}

std::vector<scsi::DriveRoot> WaitingDriveSystem::driveRoots()
{
    return inner_.driveRoots();
}

scsi::OpenResult WaitingDriveSystem::open(char letter, scsi::OpenMode mode)
{
    scsi::OpenResult result;
    waiter_.runBlocking([&] { result = inner_.open(letter, mode); });
    if (result.device)
        result.device = std::make_unique<WaitingDevice>(std::move(result.device), waiter_);
    return result;
}

} // namespace flash
