#include "linux_restart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(LinuxRestart, CapSysBootIsBit22OfTheEffectiveSet)
{
    EXPECT_TRUE(flash::capEffHoldsSysBoot("Name:\tx\nCapInh:\t0000000000000000\nCapEff:\t000001ffffffffff\n"));
    EXPECT_TRUE(flash::capEffHoldsSysBoot("CapEff:\t0000000000400000\n"));
    EXPECT_FALSE(flash::capEffHoldsSysBoot("CapEff:\t0000000000200000\n"));
    // Only the effective set counts, not the permitted or bounding ones.
    EXPECT_FALSE(flash::capEffHoldsSysBoot("CapPrm:\t0000000000400000\nCapEff:\t0000000000000000\n"));
    EXPECT_FALSE(flash::capEffHoldsSysBoot("CapEff:\tzz\n"));
    EXPECT_FALSE(flash::capEffHoldsSysBoot(""));
}

TEST(LinuxRestart, RebootIsForbiddenByTheSafetyVariableOrByVirtualDrives)
{
    ScopedEnv drives("QVX_VIRTUAL_DRIVES", nullptr);
    {
        ScopedEnv no("QVX_NO_REBOOT", "1");
        EXPECT_TRUE(flash::rebootForbidden());
    }
    {
        ScopedEnv no("QVX_NO_REBOOT", "yes");
        EXPECT_TRUE(flash::rebootForbidden());
    }
    {
        ScopedEnv no("QVX_NO_REBOOT", "0");
        EXPECT_FALSE(flash::rebootForbidden());
    }
    {
        ScopedEnv no("QVX_NO_REBOOT", "");
        EXPECT_FALSE(flash::rebootForbidden());
    }
    {
        ScopedEnv no("QVX_NO_REBOOT", nullptr);
        EXPECT_FALSE(flash::rebootForbidden());
        ScopedEnv virtualDrives("QVX_VIRTUAL_DRIVES", "/tmp/drives");
        EXPECT_TRUE(flash::rebootForbidden());
    }
}

TEST(LinuxRestart, WithTheSafetyVariableRebootOnlySaysWhatItWouldDo)
{
    ScopedEnv no("QVX_NO_REBOOT", "1");
    ASSERT_TRUE(flash::rebootForbidden()); // never go on without it
    std::string said;
    flash::LinuxRestart restart([&](const std::string& text) { said += text + "\n"; });
    restart.reboot();
    EXPECT_NE(said.find("would call org.freedesktop.login1.Manager.Reboot(false)"), std::string::npos) << said;
}

TEST(LinuxRestart, WithoutASessionNoRightIsLookedUpOrEnabled)
{
    ScopedEnv no("QVX_NO_REBOOT", "1");
    flash::LinuxRestart restart([](const std::string&) {});
    EXPECT_FALSE(restart.lookupRebootRight().ok);
    EXPECT_FALSE(restart.enableRebootRight().ok);
}

} // namespace
