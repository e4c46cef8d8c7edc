#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "TempDir.h"
#include "platform/Hex.h"
#include "platform/linux/FileInstanceLock.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/ProcessRpcSecurity.h"
#include "platform/linux/SystemClock.h"

namespace orvel::platform {
namespace {

TEST(LinuxSystemInfoTest, KernelReleaseGivesMajorMinorBuild) {
    struct Case {
        const char* release;
        int major, minor, build;
    };
    for (const Case& c :
         {Case{"6.1.0-18-amd64", 6, 1, 0}, Case{"5.15.133.1-microsoft", 5, 15, 133},
          Case{"6.8", 6, 8, 0}, Case{"4.19.0", 4, 19, 0}, Case{"6.12.9+bpo-rt", 6, 12, 9},
          Case{"", 0, 0, 0}, Case{"weird", 0, 0, 0}, Case{"99999999999.2.3", 2147483647, 2, 3}}) {
        OsVersion version = ParseKernelRelease(c.release);
        EXPECT_EQ(version.platformId, VER_PLATFORM_WIN32_NT) << c.release;
        EXPECT_EQ(version.major, c.major) << c.release;
        EXPECT_EQ(version.minor, c.minor) << c.release;
        EXPECT_EQ(version.build, c.build) << c.release;
    }
}

TEST(LinuxSystemInfoTest, RunningSystemAnswers) {
    LinuxSystemInfo info;
    EXPECT_EQ(info.Version().platformId, 2);
    EXPECT_GT(info.Version().major, 2);
    EXPECT_FALSE(info.HostName().empty());
    std::string address = info.LocalIpAddress();
    EXPECT_NE(address.rfind("127.", 0), 0u) << "loopback answered: " << address;
}

TEST(HexTest, UpperCaseWithoutLeadingZerosNegativeAsTwosComplement) {
    EXPECT_EQ(Hex(static_cast<HRESULT>(0x80004005u)), "80004005");
    EXPECT_EQ(Hex(static_cast<HRESULT>(0x8001011Au)), "8001011A");
    EXPECT_EQ(Hex(8000), "1F40");
    EXPECT_EQ(Hex(0x2A), "2A");
    EXPECT_EQ(Hex(0), "0");
    EXPECT_EQ(Hex(-1), "FFFFFFFF");
}

TEST(SystemClockTest, LocalTimeIsACalendarTime) {
    SystemClock clock;
    DateTime now = clock.Now();
    EXPECT_GE(now.year, 2024);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12);
    EXPECT_TRUE(now.day >= 1 && now.day <= 31);
    EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
    auto first = clock.Monotonic();
    EXPECT_LE(first, clock.Monotonic());
}

class FileInstanceLockTest : public ::testing::Test {
  protected:
    std::string LockFile() const { return (folder_ / "console.lock").string(); }

    fakes::TempDir temp_{"orvel-lock-test"};
    std::filesystem::path folder_ = temp_.path();
};

TEST_F(FileInstanceLockTest, FirstHolderKeepsTheLockUntilItEnds) {
    {
        FileInstanceLock first(LockFile());
        EXPECT_FALSE(first.PreviousInstance());
        EXPECT_FALSE(first.PreviousInstance()) << "the holder itself is no previous instance";
        FileInstanceLock second(LockFile());
        EXPECT_TRUE(second.PreviousInstance());
        EXPECT_TRUE(second.PreviousInstance());
    }
    FileInstanceLock later(LockFile());
    EXPECT_FALSE(later.PreviousInstance()) << "the lock goes with its holder";
}

// A lock file that cannot be opened, or a planted link in its place, never
// stops the console and is never followed.
TEST_F(FileInstanceLockTest, UnopenableOrPlantedLockFileLetsTheConsoleRun) {
    FileInstanceLock missing((folder_ / "missing" / "console.lock").string());
    EXPECT_FALSE(missing.PreviousInstance());

    std::filesystem::path target = folder_ / "victim";
    std::filesystem::create_symlink(target, folder_ / "console.lock");
    FileInstanceLock lock(LockFile());
    EXPECT_FALSE(lock.PreviousInstance());
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(FileInstanceLockTest, LockFileFollowsTheInstallation) {
    InstallRoot relocated{(folder_ / "registry.db").string(), (folder_ / "run").string(), true};
    std::string path = FileInstanceLock::DefaultLockPath(relocated);
    EXPECT_EQ(path,
              (folder_ / "run").string() + "/orvel-console-" + std::to_string(getuid()) + ".lock");
    EXPECT_TRUE(std::filesystem::is_directory(folder_ / "run"));

    InstallRoot machine{"/var/lib/orvel/registry.db", "/run/orvel", false};
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string expected = runtime != nullptr && *runtime == '/'
                               ? std::string(runtime) + "/orvel-console.lock"
                               : "/tmp/orvel-console-" + std::to_string(getuid()) + ".lock";
    EXPECT_EQ(FileInstanceLock::DefaultLockPath(machine), expected);
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

}  // namespace
}  // namespace orvel::platform
