// The Linux side of start-up's system interfaces.
#pragma once

#include "platform.h"

#include <string>

namespace app {

// Linux gives every service this program relies on the way the NT family does (a
// pass-through to SCSI drives, privileges, restart), so a Linux kernel reports the NT
// platform. The record comes from uname(); anything else reports the 9x platform.
class LinuxOsIdentity : public OsIdentity {
public:
    bool version(OsVersion& out) const override;
};

// Turns uname()'s system name and release into the version record; pure, for tests.
OsVersion versionFromUname(const std::string& sysname, const std::string& release);

// Reads /proc/self/exe (without the " (deleted)" mark of a file replaced while it runs);
// falls back to the given path (argv[0] made absolute) when the link cannot be read.
class ProcSelfExePath : public OwnPath {
public:
    explicit ProcSelfExePath(std::string fallback, std::string link = "/proc/self/exe")
        : fallback_(std::move(fallback)), link_(std::move(link)) {}
    std::string ownPath() const override;

private:
    std::string fallback_;
    std::string link_;
};

class ProcessCurrentDirectory : public CurrentDirectory {
public:
    std::string currentDirectory() const override;
};

} // namespace app
