#include "linux_platform.h"

#include <link.h>
#include <sys/stat.h>
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

std::string pathFromArgv0(const std::string& argv0, const std::string& currentDirectory,
                          const std::string& searchPath,
                          const std::function<bool(const std::string&)>& isProgramFile)
{
    if (argv0.empty())
        return {};
    if (argv0.find('/') != std::string::npos)
        return argv0.front() == '/' ? argv0 : currentDirectory + "/" + argv0;
    std::size_t from = 0;
    while (from <= searchPath.size()) {
        std::size_t to = searchPath.find(':', from);
        if (to == std::string::npos)
            to = searchPath.size();
        // An empty PATH entry is the current directory, as the shell reads it.
        std::string dir = searchPath.substr(from, to - from);
        if (dir.empty())
            dir = currentDirectory;
        else if (dir.front() != '/')
            dir = currentDirectory + "/" + dir;
        const std::string candidate = dir + "/" + argv0;
        if (isProgramFile(candidate))
            return candidate;
        from = to + 1;
    }
    return {};
}

namespace {

std::string readOwnLink(const std::string& link)
{
    std::vector<char> buf(4096);
    const ssize_t n = readlink(link.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size())
        return {};
    std::string path(buf.data(), static_cast<std::size_t>(n));
    constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    return path;
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    return !a.empty() && !b.empty() && ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0
           && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace

std::string programInterpreter()
{
    std::string interpreter;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* out) -> int {
            for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_INTERP)
                    *static_cast<std::string*>(out) =
                        reinterpret_cast<const char*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
            return 1; // the first object is the program itself, also when the loader was run
        },
        &interpreter);
    return interpreter;
}

ProcSelfExePath::ProcSelfExePath(const std::string& argv0, const std::string& link, const std::string& loader)
    : path_(readOwnLink(link))
{
    if (!path_.empty() && !sameFile(link, loader))
        return;
    std::error_code ec;
    const std::string cwd = std::filesystem::current_path(ec).string();
    const char* searchPath = std::getenv("PATH");
    path_ = pathFromArgv0(argv0, ec ? std::string(".") : cwd, searchPath ? searchPath : "",
                          [](const std::string& candidate) {
                              std::error_code statError;
                              return ::access(candidate.c_str(), X_OK) == 0
                                     && std::filesystem::is_regular_file(candidate, statError);
                          });
    if (path_.empty())
        path_ = argv0;
}

std::string ProcessCurrentDirectory::currentDirectory() const
{
    std::error_code ec;
    const auto p = std::filesystem::current_path(ec);
    return ec ? std::string(".") : p.string();
}

} // namespace app
