#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "TempDir.h"
#include "platform/FileReplace.h"
#include "platform/linux/LinuxFileSystem.h"

namespace orvel::platform {
namespace {

class FileSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(root + "/Corvane/Bin");
        fakes::WriteFile(root + "/Corvane/Bin/Corvane.INI", "[NETWORK]\n");
    }

    fakes::TempDir temp{"orvel-fs"};
    LinuxFileSystem fileSystem;
    std::string root = temp.str();
};

// A path that does not exist as written is found component by component
// without regard to letter case, the exact name first, else a stable choice.
TEST_F(FileSystemTest, FindsFilesWithoutRegardToLetterCase) {
    EXPECT_TRUE(fileSystem.FileExists(root + "/Corvane/Bin/Corvane.INI"));
    EXPECT_TRUE(fileSystem.FileExists(root + "/CORVANE/BIN/corvane.ini"));
    EXPECT_EQ(fileSystem.ResolvePath(root + "/corvane/BIN/CORVANE.ini"),
              root + "/Corvane/Bin/Corvane.INI");
    EXPECT_EQ(fileSystem.ResolvePath(root + "//corvane/./bin/"), root + "/Corvane/./Bin/");
    EXPECT_FALSE(fileSystem.FileExists(root + "/Corvane/Bin"));  // a folder is no file
    EXPECT_FALSE(fileSystem.FileExists(root + "/Corvane/Bin/Other.ini"));
    EXPECT_EQ(fileSystem.ResolvePath(root + "/Missing/Corvane.ini"), std::nullopt);
    EXPECT_EQ(fileSystem.ResolvePath(""), std::nullopt);

    std::filesystem::create_directories(root + "/Corvane/BIN");
    EXPECT_EQ(fileSystem.ResolvePath(root + "/Corvane/BIN"), root + "/Corvane/BIN");
    EXPECT_EQ(fileSystem.ResolvePath(root + "/Corvane/bin"), root + "/Corvane/BIN");
}

TEST_F(FileSystemTest, KnowsItsOwnProgramAndChangesDirectory) {
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(fileSystem.ExecutableFolder(), self.parent_path().string());
    EXPECT_EQ(fileSystem.ExecutableName(), "platform_tests");

    std::string before = fileSystem.CurrentDirectory();
    ASSERT_TRUE(fileSystem.ChangeDirectory(root + "/CORVANE/bin"));
    EXPECT_EQ(fileSystem.CurrentDirectory(), root + "/Corvane/Bin");
    EXPECT_TRUE(fileSystem.FileExists("corvane.ini"));
    EXPECT_FALSE(fileSystem.ChangeDirectory(root + "/nowhere"));
    EXPECT_EQ(fileSystem.CurrentDirectory(), root + "/Corvane/Bin");
    ASSERT_TRUE(fileSystem.ChangeDirectory(before));
}

// A replaced file has its mode before it has content, a link at the path is
// replaced itself (its target is never written), and a failed replace leaves
// the old file and no temporary behind.
TEST_F(FileSystemTest, ReplaceFileIsWholeAndNeverFollowsALink) {
    const std::string secret = root + "/secret.key";
    ASSERT_FALSE(ReplaceFile(secret, "key", ReplaceOptions{.mode = 0600, .group = std::nullopt}));
    struct stat info {};
    ASSERT_EQ(::stat(secret.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(fakes::ReadFile(secret), "key");

    const std::string target = root + "/target";
    fakes::WriteFile(target, "untouched");
    std::filesystem::create_symlink(target, root + "/link");
    ASSERT_FALSE(ReplaceFile(root + "/link", "new"));
    EXPECT_EQ(fakes::ReadFile(target), "untouched");
    EXPECT_FALSE(std::filesystem::is_symlink(root + "/link"));
    EXPECT_EQ(fakes::ReadFile(root + "/link"), "new");

    EXPECT_TRUE(ReplaceFile(root + "/Corvane/Bin", "over a folder"));
    EXPECT_TRUE(ReplaceFile(root + "/missing/file", "x"));
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root)) entries += entry.exists();
    EXPECT_EQ(entries, 4);  // Corvane, secret.key, target, link: no temporary left
}

}  // namespace
}  // namespace orvel::platform
