#include "linux_platform.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace app {

OsVersion versionFromUname(const std::string& sysname, const std::string& release)
{
    OsVersion v;
    v.platformId = sysname == "Linux" ? kPlatformNt : kPlatformWindows;
    // "6.1.0-18-amd64": major, minor and the patch level as the build number.
    const char* p = release.c_str();
    char* end = nullptr;
    std::uint32_t* fields[] = {&v.major, &v.minor, &v.build};
    for (std::uint32_t* f : fields) {
        const unsigned long n = std::strtoul(p, &end, 10);
        if (end == p)
            break;
        *f = static_cast<std::uint32_t>(n);
        p = end;
        if (*p != '.')
            break;
        ++p;
    }
    return v;
}

bool LinuxOsIdentity::version(OsVersion& out) const
{
    utsname u{};
    if (uname(&u) != 0)
        return false;
    out = versionFromUname(u.sysname, u.release);
    return true;
}

std::string ProcSelfExePath::ownPath() const
{
    std::vector<char> buf(4096);
    const ssize_t n = readlink(link_.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size())
        return fallback_;
    std::string path(buf.data(), static_cast<std::size_t>(n));
    // A program file replaced on disk while it runs (a rebuild of the same release) is
    // reported with this mark; the revisions are read from the end of the name.
    constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    return path;
}

std::string ProcessCurrentDirectory::currentDirectory() const
{
    std::error_code ec;
    const auto p = std::filesystem::current_path(ec);
    return ec ? std::string(".") : p.string();
}

} // namespace app
