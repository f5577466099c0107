#include "linux_platform.h"

#include "temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

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
    ASSERT_FALSE(path.empty());
    EXPECT_EQ('/', path.front());
    EXPECT_EQ(std::filesystem::canonical("/proc/self/exe").string(), path);
}

TEST(LinuxPlatform, OwnPathFallsBackWhenTheLinkCannotBeReadOrIsTheLoader)
{
    EXPECT_EQ("/fallback/W2KVQXXXX.EXE", ProcSelfExePath("/fallback/W2KVQXXXX.EXE", "/nonexistent/link").ownPath());

    const testsupport::TempFolder dir("ownpath");
    std::filesystem::create_symlink("/opt/x/W2KVQ8E10.EXE", dir / "exe");
    EXPECT_EQ("/opt/x/W2KVQ8E10.EXE", ProcSelfExePath("fb", (dir / "exe").string()).ownPath());
    // The running file was replaced: the name still ends in the revisions.
    std::filesystem::create_symlink("/opt/x/W2KVQ8E10.EXE (deleted)", dir / "replaced");
    EXPECT_EQ("/opt/x/W2KVQ8E10.EXE", ProcSelfExePath("fb", (dir / "replaced").string()).ownPath());
    // Started as `/lib64/ld-linux-x86-64.so.2 /media/cd/W2KVQ8E10.EXE`: the kernel runs the loader.
    std::filesystem::create_symlink("/lib64/ld-linux-x86-64.so.2", dir / "loader");
    EXPECT_EQ("/media/cd/W2KVQ8E10.EXE", ProcSelfExePath("/media/cd/W2KVQ8E10.EXE", (dir / "loader").string()).ownPath());
}

// Without /proc: a template started from PATH is named by the folder that holds it, not
// by the current directory, which is where the firmware files are.
TEST(LinuxPlatform, OwnPathWithoutTheLinkIsArgv0AsTheShellFoundIt)
{
    const auto inBin = [](const std::string& p) { return p == "/usr/local/bin/W2KVQXXXX.EXE"; };
    EXPECT_EQ("/usr/local/bin/W2KVQXXXX.EXE",
              pathFromArgv0("W2KVQXXXX.EXE", "/home/u/fw", "/usr/bin:/usr/local/bin", inBin));
    EXPECT_EQ("/home/u/fw/./W2KVQ8E10.EXE", pathFromArgv0("./W2KVQ8E10.EXE", "/home/u/fw", "/usr/bin", inBin));
    EXPECT_EQ("/r/W2KVQ8E10.EXE", pathFromArgv0("/r/W2KVQ8E10.EXE", "/home/u/fw", "", inBin));
    // An empty PATH entry and a relative one are read against the current directory.
    const auto inCwd = [](const std::string& p) { return p == "/home/u/fw/W2KVQXXXX.EXE"; };
    EXPECT_EQ("/home/u/fw/W2KVQXXXX.EXE", pathFromArgv0("W2KVQXXXX.EXE", "/home/u/fw", "/usr/bin::/bin", inCwd));
    const auto inSub = [](const std::string& p) { return p == "/home/u/fw/tools/W2KVQXXXX.EXE"; };
    EXPECT_EQ("/home/u/fw/tools/W2KVQXXXX.EXE", pathFromArgv0("W2KVQXXXX.EXE", "/home/u/fw", "tools", inSub));
    EXPECT_EQ("", pathFromArgv0("W2KVQXXXX.EXE", "/home/u/fw", "/usr/bin", inCwd));
    EXPECT_EQ("", pathFromArgv0("", "/home/u/fw", "/usr/bin", inCwd));
}

TEST(LinuxPlatform, CurrentDirectoryIsAbsolute)
{
    EXPECT_EQ(std::filesystem::current_path().string(), ProcessCurrentDirectory().currentDirectory());
}

} // namespace
} // namespace app
