// The device access state shared by identification, the request routines and the flash.
#pragma once

#include "drive_system.h"

#include <cstdint>
#include <memory>

namespace scsi {

inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 1;

struct DeviceAccess {
    bool lastRequestSucceeded = false;
    std::uint32_t openAccess = 0;
    std::uint32_t openSharing = 0;
    std::unique_ptr<Device> device; // the open device handle; null when none
    std::uint32_t requestLength = 0;
    std::uint32_t bytesReturned = 0;
    int lastError = 0;              // the error code of the last failed open or call

    void reset() { *this = DeviceAccess{}; }

    // Keeps what a device control call reported: whether it succeeded, the bytes it
    // returned and, when it failed, its error code.
    void keep(const CallResult& call)
    {
        lastRequestSucceeded = call.callSucceeded();
        bytesReturned = call.bytesReturned;
        if (!call.callSucceeded())
            lastError = call.error;
    }
};

} // namespace scsi
