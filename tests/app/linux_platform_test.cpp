#include "linux_platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace app {
namespace {

TEST(LinuxPlatform, KernelVersionRecordReportsTheNtFamilyOnlyForLinux)
{
    const OsVersion v = versionFromUname("Linux", "6.1.0-18-amd64");
    EXPECT_EQ(kPlatformNt, v.platformId);
    EXPECT_EQ(6u, v.major);
    EXPECT_EQ(1u, v.minor);
    EXPECT_EQ(0u, v.build);
    EXPECT_EQ(148u, v.recordSize);
    EXPECT_EQ(kPlatformWindows, versionFromUname("FreeBSD", "13.2-RELEASE").platformId);
    const OsVersion odd = versionFromUname("Linux", "weird");
    EXPECT_EQ(0u, odd.major);
    EXPECT_EQ(kPlatformNt, odd.platformId);

    OsVersion here;
    ASSERT_TRUE(LinuxOsIdentity().version(here));
    EXPECT_EQ(kPlatformNt, here.platformId);
}

TEST(LinuxPlatform, OwnPathComesFromTheSystemNotFromTheArgument)
{
    const std::string path = ProcSelfExePath("relative/argv0").ownPath();
    EXPECT_EQ('/', path.front());
    EXPECT_EQ(std::filesystem::canonical("/proc/self/exe").string(), path);
}

TEST(LinuxPlatform, OwnPathFallsBackWhenTheLinkCannotBeRead)
{
    EXPECT_EQ("/fallback/W2KVQXXXX.EXE", ProcSelfExePath("/fallback/W2KVQXXXX.EXE", "/nonexistent/link").ownPath());

    const auto dir = std::filesystem::temp_directory_path() / ("ownpath-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink("/opt/x/W2KVQ8E10.EXE", dir / "exe");
    EXPECT_EQ("/opt/x/W2KVQ8E10.EXE", ProcSelfExePath("fb", (dir / "exe").string()).ownPath());
    // The running file was replaced: the name still ends in the revisions.
    std::filesystem::create_symlink("/opt/x/W2KVQ8E10.EXE (deleted)", dir / "replaced");
    EXPECT_EQ("/opt/x/W2KVQ8E10.EXE", ProcSelfExePath("fb", (dir / "replaced").string()).ownPath());
    std::filesystem::remove_all(dir);
}

TEST(LinuxPlatform, CurrentDirectoryIsAbsolute)
{
    EXPECT_EQ(std::filesystem::current_path().string(), ProcessCurrentDirectory().currentDirectory());
}

} // namespace
} // namespace app
