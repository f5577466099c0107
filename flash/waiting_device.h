// Decorators of the drive seam that hand every blocking call to a Waiter, so the caller
// can keep its window alive while the drive works. They change nothing else: records,
// data and results pass through untouched.
#pragma once

#include "drive_system.h"
#include "waiter.h"

#include <memory>

namespace flash {

class WaitingDevice : public scsi::Device {
public:
    WaitingDevice(std::unique_ptr<scsi::Device> inner, Waiter& waiter);

    scsi::CallResult passThrough(std::uint32_t controlCode, std::span<std::uint8_t> record,
                                 std::uint32_t inputLength, std::uint32_t outputLength,
                                 std::span<std::uint8_t> data) override;
    scsi::CallResult queryInquiryData(std::span<std::uint8_t> out) override;
    // Closes a node at most: not worth a wait.
    void releaseClaim() override { inner_->releaseClaim(); }

    scsi::Device& inner() { return *inner_; }

private:
    std::unique_ptr<scsi::Device> inner_;
    Waiter& waiter_;
};

// Opens drives through the inner system (the open itself also runs through the waiter)
// and wraps every opened drive in a WaitingDevice.
class WaitingDriveSystem : public scsi::DriveSystem {
public:
    WaitingDriveSystem(scsi::DriveSystem& inner, Waiter& waiter) : inner_(inner), waiter_(waiter) {}

    std::vector<scsi::DriveRoot> driveRoots() override;
    scsi::OpenResult open(char letter, scsi::OpenMode mode) override;

private:
    scsi::DriveSystem& inner_;
    Waiter& waiter_;
};

} // namespace flash
