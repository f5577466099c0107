// What start-up asks of the operating system, behind small interfaces so the start-up
// logic runs the same against the real system and in tests.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// Platform identifiers of the system's version record.
inline constexpr std::uint32_t kPlatformWin32s = 0;
inline constexpr std::uint32_t kPlatformWindows = 1; // the 9x family
inline constexpr std::uint32_t kPlatformNt = 2;      // the NT family

// The system's version record, as much of it as this program reads.
struct OsVersion {
    std::uint32_t recordSize = 148;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint32_t platformId = 0;
};

class OsIdentity {
public:
    virtual ~OsIdentity() = default;
    // False when the system gives no version record.
    virtual bool version(OsVersion& out) const = 0;
};

// The full path of the running program file, as the system knows it.
class OwnPath {
public:
    virtual ~OwnPath() = default;
    virtual std::string ownPath() const = 0;
};

// The process's current directory, where the template and the firmware files are.
class CurrentDirectory {
public:
    virtual ~CurrentDirectory() = default;
    virtual std::string currentDirectory() const = 0;
};

} // namespace app
