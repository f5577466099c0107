// The drive table: one entry per line of the drive list.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace scsi {

inline constexpr std::size_t kLabelSize = 80;
inline constexpr std::size_t kInquirySize = 128;

struct DriveEntry {
    // The 84 bytes every entry has always had: letter, SCSI address, label.
    char letter = 'X';
    std::uint8_t path = 0;   // SCSI path (bus, the channel on Linux)
    std::uint8_t target = 0;
    std::uint8_t unit = 0;   // logical unit number
    std::array<char, kLabelSize> label{}; // zero-terminated "%d-%d-%d %C: %28.28s"

    // Kept beside them on this platform: the drive's INQUIRY data (the current firmware
    // revision is read from bytes 32 to 35 here, not from the label) and its device node.
    std::array<std::uint8_t, kInquirySize> inquiry{};
    std::string node;

    std::string labelText() const; // the label up to its NUL
};

inline constexpr std::size_t kDriveTableEntries = 4;

struct DriveTable {
    std::array<DriveEntry, kDriveTableEntries> entries = initial();

    static std::array<DriveEntry, kDriveTableEntries> initial()
    {
        std::array<DriveEntry, kDriveTableEntries> e{};
        e[1].target = 1;
        e[2].path = 1;
        e[3].path = 1;
        e[3].target = 1;
        return e;
    }
};

inline std::string DriveEntry::labelText() const
{
    std::size_t n = 0;
    while (n < label.size() && label[n] != '\0')
        ++n;
    return std::string(label.data(), n);
}

} // namespace scsi
