#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TempDir.h"
#include "platform/Hex.h"
#include "platform/linux/FileInstanceLock.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/ProcessRpcSecurity.h"
#include "platform/linux/SystemClock.h"

namespace orvel::platform {
namespace {

TEST(LinuxSystemInfoTest, KernelReleaseGivesMajorMinorBuild) {
    const std::map<std::string, std::array<int, 3>> cases = {
        {"6.1.0-18-amd64", {6, 1, 0}},
        {"5.15.133.1-microsoft", {5, 15, 133}},
        {"6.8", {6, 8, 0}},
        {"6.12.9+bpo-rt", {6, 12, 9}},
        {"", {0, 0, 0}},
        {"weird", {0, 0, 0}},
        {"99999999999.2.3", {2147483647, 2, 3}}};
    for (const auto& [release, expected] : cases) {
        const OsVersion version = ParseKernelRelease(release);
        EXPECT_EQ(version.platformId, VER_PLATFORM_WIN32_NT) << release;
        EXPECT_EQ((std::array{version.major, version.minor, version.build}), expected) << release;
    }
}

// The running system: a version, a name, an address other than loopback, and
// a local time whose year and month are counted from 1900 and 1 respectively.
TEST(LinuxSystemInfoTest, RunningSystemAnswers) {
    LinuxSystemInfo info;
    EXPECT_GT(info.Version().major, 2);
    EXPECT_FALSE(info.HostName().empty());
    const std::string address = info.LocalIpAddress();
    EXPECT_NE(address.rfind("127.", 0), 0u) << "loopback answered: " << address;
    const DateTime now = SystemClock().Now();
    EXPECT_GE(now.year, 2024);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
}

// The process's own user and groups: its primary group counts, a group it is
// not in does not (root is in every group), a missing group is told apart.
TEST(LinuxSystemInfoTest, MembershipComesFromTheProcessCredentials) {
    LinuxSystemInfo info;
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(info.UserName(), user->pw_name);
    const group* own = getgrgid(getegid());
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(info.MembershipOf(own->gr_name), GroupMembership::Member);
    EXPECT_EQ(info.MembershipOf("orvel-test-no-such-group"), GroupMembership::NoSuchGroup);
    const group* other = getgrnam(getegid() == 0 ? "nogroup" : "root");
    if (other == nullptr) return;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0) {
        ASSERT_EQ(getgroups(count, groups.data()), count);
    }
    const bool inOther =
        geteuid() == 0 || std::find(groups.begin(), groups.end(), other->gr_gid) != groups.end();
    EXPECT_EQ(info.MembershipOf(other->gr_name),
              inOther ? GroupMembership::Member : GroupMembership::NotMember);
}

// Other numbers show in the start-up and network address tests' texts.
TEST(HexTest, ZeroIsOneDigit) {
    EXPECT_EQ(Hex(0), "0");
}

TEST(ProcessRpcSecurityTest, FirstCallSetsLaterCallsAreTooLate) {
    ProcessRpcSecurity security;
    EXPECT_EQ(security.Settings(), nullptr);
    EXPECT_EQ(security.CoInitializeSecurity(RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IMPERSONATE,
                                            EOAC_NONE),
              S_OK);
    EXPECT_EQ(security.CoInitializeSecurity(6, 2, 0), RPC_E_TOO_LATE);
    ASSERT_NE(security.Settings(), nullptr);
    EXPECT_EQ(security.Settings()->authenticationLevel, RPC_C_AUTHN_LEVEL_NONE);
    EXPECT_EQ(security.Settings()->impersonationLevel, RPC_C_IMP_LEVEL_IMPERSONATE);
}

class FileInstanceLockTest : public ::testing::Test {
  protected:
    fakes::TempDir temp_{"orvel-lock-test"};
    std::filesystem::path folder_ = temp_.path();
    std::string lockFile_ = temp_.str("console.lock");
};

// The first holder keeps the lock until it ends. A lock file that cannot be
// opened, or a planted link in its place, never stops the console and is never
// followed.
TEST_F(FileInstanceLockTest, OnlyAHeldLockMeansAPreviousInstance) {
    {
        FileInstanceLock first(lockFile_);
        EXPECT_FALSE(first.PreviousInstance());
        EXPECT_FALSE(first.PreviousInstance()) << "the holder itself is no previous instance";
        FileInstanceLock second(lockFile_);
        EXPECT_TRUE(second.PreviousInstance());
        EXPECT_TRUE(second.PreviousInstance());
    }
    FileInstanceLock later(lockFile_);
    EXPECT_FALSE(later.PreviousInstance()) << "the lock goes with its holder";

    FileInstanceLock missing((folder_ / "missing" / "console.lock").string());
    EXPECT_FALSE(missing.PreviousInstance());

    std::filesystem::create_symlink(folder_ / "victim", temp_.str("planted.lock"));
    FileInstanceLock lock(temp_.str("planted.lock"));
    EXPECT_FALSE(lock.PreviousInstance());
    EXPECT_FALSE(std::filesystem::exists(folder_ / "victim"));
}

// A relocated installation keeps its lock in its own run folder (made when
// missing); the machine's in the user's runtime folder, else in /tmp.
TEST_F(FileInstanceLockTest, LockFileFollowsTheInstallation) {
    const std::string uid = std::to_string(getuid());
    InstallRoot relocated{temp_.str("registry.db"), temp_.str("run"), true};
    EXPECT_EQ(FileInstanceLock::DefaultLockPath(relocated),
              temp_.str("run") + "/orvel-console-" + uid + ".lock");
    EXPECT_TRUE(std::filesystem::is_directory(folder_ / "run"));

    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string previous = saved != nullptr ? saved : "";
    InstallRoot machine{"/var/lib/orvel/registry.db", "/run/orvel", false};
    setenv("XDG_RUNTIME_DIR", temp_.str().c_str(), 1);
    EXPECT_EQ(FileInstanceLock::DefaultLockPath(machine), temp_.str("orvel-console.lock"));
    setenv("XDG_RUNTIME_DIR", "relative", 1);
    EXPECT_EQ(FileInstanceLock::DefaultLockPath(machine), "/tmp/orvel-console-" + uid + ".lock");
    saved != nullptr ? setenv("XDG_RUNTIME_DIR", previous.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace orvel::platform
