#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "TempDir.h"
#include "platform/IniProfileFile.h"

namespace orvel::platform {
namespace {

using ini::ApplyWrite;
using ini::FindValue;

std::string Edit(std::string_view text, std::string_view section,
                 std::optional<std::string_view> key, std::optional<std::string_view> value) {
    auto result = ApplyWrite(text, section, key, value);
    EXPECT_TRUE(result.has_value());
    return result ? result->text : std::string();
}

TEST(IniText, ReadsEveryLineEndingAndIgnoresCase) {
    for (std::string_view lineEnd : {"\r\n", "\n", "\r"}) {
        std::string text =
            "[Net]" + std::string(lineEnd) + "Port = 1234" + std::string(lineEnd) + "Last=x";
        EXPECT_EQ(FindValue(text, "NET", "port"), "1234") << "line end " << lineEnd.size();
        EXPECT_EQ(FindValue(text, " net ", " LAST "), "x");
    }
}

// A leading UTF-8 byte-order mark is no part of the first section's header, and
// an edit keeps it.
TEST(IniText, ReadsPastAByteOrderMark) {
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(FindValue(bom + "[NETWORK]\r\nrouter1=1\r\n", "network", "router1"), "1");
    EXPECT_EQ(Edit(bom + "[NETWORK]\r\nrouter1=1\r\n", "NETWORK", "router1", "2"),
              bom + "[NETWORK]\r\nrouter1=2\r\n");
    EXPECT_EQ(Edit(bom + "[NETWORK]\nrouter1=1\n", "NETWORK", "router2", "3"),
              bom + "[NETWORK]\nrouter1=1\nrouter2=3\n");
    EXPECT_EQ(Edit(bom, "S", "k", "v"), bom + "[S]\nk=v\n");
}

TEST(IniText, SectionAndEntryRules) {
    const std::string text =
        "orphan=1\n"
        "[A] trailing text\n"
        "; key=comment\n"
        "#hash=ordinary\n"
        "no equals sign\n"
        "empty=\n"
        "dup=first\n"
        "dup=second\n"
        "eq = a=b;c#d \n"
        "q1=\"quoted\"\n"
        "q2='x'\n"
        "q3=\"\n"
        "q4=\"mixed'\n"
        "  \t key with blanks \t=\v value \n"
        "[ B\n"
        "k=in b\n"
        "[a]\n"
        "hidden=second block\n"
        "[]\n"
        "nameless=yes\n";
    EXPECT_EQ(FindValue(text, "", "orphan"), std::nullopt);  // before any header
    EXPECT_EQ(FindValue(text, "A", "key"), std::nullopt);
    EXPECT_EQ(FindValue(text, "A", "#hash"), "ordinary");
    EXPECT_EQ(FindValue(text, "A", "no equals sign"), std::nullopt);
    EXPECT_EQ(FindValue(text, "A", "empty"), "");
    EXPECT_EQ(FindValue(text, "A", "dup"), "first");
    EXPECT_EQ(FindValue(text, "A", "eq"), "a=b;c#d");
    EXPECT_EQ(FindValue(text, "A", "q1"), "quoted");
    EXPECT_EQ(FindValue(text, "A", "q2"), "x");
    EXPECT_EQ(FindValue(text, "A", "q3"), "\"");
    EXPECT_EQ(FindValue(text, "A", "q4"), "\"mixed'");
    EXPECT_EQ(FindValue(text, "A", "key with blanks"), "value");
    EXPECT_EQ(FindValue(text, "b", "k"), "in b");
    EXPECT_EQ(FindValue(text, "A", "hidden"), std::nullopt);  // second [a] block is invisible
    EXPECT_EQ(FindValue(text, "", "nameless"), "yes");
}

TEST(IniText, WritesInPlaceKeepingOtherBytes) {
    const std::string text =
        "\xEF\xBB\xBF; top\r\n[Net]\r\n  PORT = 1 \r\n\r\n; tail\r\n[Other]\r\nx=1";
    EXPECT_EQ(Edit(text, "net", "port", "2"),
              "\xEF\xBB\xBF; top\r\n[Net]\r\nPORT=2\r\n\r\n; tail\r\n[Other]\r\nx=1");
    EXPECT_EQ(Edit(text, "NET", "New", "v"),
              "\xEF\xBB\xBF; top\r\n[Net]\r\n  PORT = 1 \r\nNew=v\r\n\r\n; tail\r\n[Other]\r\nx=1");
    // A new key after a last line without line end; a new section at the end.
    EXPECT_EQ(
        Edit(text, "other", "y", "2"),
        "\xEF\xBB\xBF; top\r\n[Net]\r\n  PORT = 1 \r\n\r\n; tail\r\n[Other]\r\nx=1\r\ny=2\r\n");
    EXPECT_EQ(Edit("[A]\rk=1\r", " New ", " key ", " v "), "[A]\rk=1\r[New]\rkey= v \r");
    EXPECT_EQ(Edit("[A]\nk=1", "B", "k", "2"), "[A]\nk=1\n[B]\nk=2\n");
    EXPECT_EQ(Edit("", "A", "k", "v"), "[A]\nk=v\n");
    // A section without entries takes the key right after its header.
    EXPECT_EQ(Edit("[A]\n\n; c\n[B]\n", "a", "k", "v"), "[A]\nk=v\n\n; c\n[B]\n");
}

TEST(IniText, EmptyKeyWritesEqualsLine) {
    std::string text = Edit("", "S", "a", "1");
    text = Edit(text, "S", "", "");
    EXPECT_EQ(text, "[S]\na=1\n=\n");
    EXPECT_EQ(Edit(text, "S", "", "x"), "[S]\na=1\n=x\n");
    EXPECT_EQ(Edit("", "T", "", ""), "[T]\n=\n");
    auto same = ApplyWrite(text, "S", "a", "1");
    ASSERT_TRUE(same);
    EXPECT_FALSE(same->changed);
}

TEST(IniText, DeletesKeysAndSections) {
    const std::string text = "[A]\nk=1\nj=2\n; c\n[B]\nk=3\n[a]\nk=4\n";
    EXPECT_EQ(Edit(text, "a", "K", std::nullopt), "[A]\nj=2\n; c\n[B]\nk=3\n[a]\nk=4\n");
    EXPECT_EQ(Edit(text, "a", std::nullopt, std::nullopt), "[B]\nk=3\n[a]\nk=4\n");
    EXPECT_EQ(Edit(text, "b", std::nullopt, "ignored"), "[A]\nk=1\nj=2\n; c\n[a]\nk=4\n");
    auto missing = ApplyWrite(text, "C", "k", std::nullopt);
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->changed);
    EXPECT_EQ(missing->text, text);
}

TEST(IniText, RefusesLineBreaksAndNul) {
    using namespace std::string_view_literals;
    EXPECT_FALSE(ApplyWrite("", "S", "k", "a\r\n[Evil]"));
    EXPECT_FALSE(ApplyWrite("", "S", "k", "a\nb"));
    EXPECT_FALSE(ApplyWrite("", "S", "k", "a\0b"sv));
    EXPECT_FALSE(ApplyWrite("", "S", "k\r", "v"));
    EXPECT_FALSE(ApplyWrite("", "S\n", "k", "v"));
}

// Random bytes and random edits: nothing crashes, and a value just written
// reads back.
TEST(IniText, RandomInputNeverBreaksReadsOrWrites) {
    std::mt19937 random(20260412);
    using namespace std::string_view_literals;
    const std::string_view alphabet = "[]=;#'\" \t\v\r\nabAB\0x\xff"sv;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        std::size_t length = random() % 200;
        for (std::size_t i = 0; i < length; ++i) {
            text += (random() % 4 == 0) ? static_cast<char>(random() % 256)
                                        : alphabet[random() % alphabet.size()];
        }
        std::string section(1, "abAB"[random() % 4]);
        std::string key(1, "abAB"[random() % 4]);
        (void)FindValue(text, section, key);
        std::string value = "v" + std::to_string(round);
        auto written = ApplyWrite(text, section, key, value);
        ASSERT_TRUE(written);
        ASSERT_EQ(FindValue(written->text, section, key), value) << "round " << round;
        auto deleted = ApplyWrite(written->text, section, key, std::nullopt);
        ASSERT_TRUE(deleted);
        (void)ApplyWrite(deleted->text, section, std::nullopt, std::nullopt);
    }
}

class ProfileFileTest : public ::testing::Test {
  protected:
    static std::string Contents(const std::string& file) { return fakes::ReadFile(file); }
    static void Put(const std::string& file, const std::string& text) {
        fakes::WriteFile(file, text);
    }
    std::string Get(std::string_view section, std::string_view key,
                    std::optional<std::string_view> fallback, std::uint32_t size = 256) {
        std::vector<char> buffer(size + 1, '#');
        std::uint32_t count =
            profile.GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, path);
        EXPECT_EQ(buffer[count], '\0');
        return std::string(buffer.data(), count);
    }

    fakes::TempDir temp{"orvel-profile"};
    IniProfileFile profile;
    std::string folder = temp.str();
    std::string path = temp.str("Orvel Console.ini");
};

TEST_F(ProfileFileTest, ReadsValuesDefaultsAndCutsToTheBuffer) {
    EXPECT_EQ(Get("S", "k", "fallback  "), "fallback");  // missing file
    EXPECT_EQ(Get("S", "k", std::nullopt), "");
    Put(path, "[S]\r\nk=0123456789\r\nempty=\r\n");
    EXPECT_EQ(Get("s", "K", "x"), "0123456789");
    EXPECT_EQ(Get("S", "k", "x", 5), "0123");
    EXPECT_EQ(Get("S", "k", "x", 1), "");
    EXPECT_EQ(Get("S", "empty", "x"), "");
    EXPECT_EQ(Get("S", "gone", "long default", 5), "long");
}

TEST_F(ProfileFileTest, CreatesFilesWithLfAndKeepsAnExistingEnding) {
    ASSERT_TRUE(profile.WritePrivateProfileStringA("S", "k", "v", path));
    EXPECT_EQ(Contents(path), "[S]\nk=v\n");
    Put(path, "[S]\r\nk=v\r\n");
    ASSERT_TRUE(profile.WritePrivateProfileStringA("T", "", "", path));
    EXPECT_EQ(Contents(path), "[S]\r\nk=v\r\n[T]\r\n=\r\n");
    EXPECT_FALSE(profile.WritePrivateProfileStringA("S", "k", "v", folder + "/missing/x.ini"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
}

TEST_F(ProfileFileTest, KeepsModeAndLinksAndLeavesNoTemporaryFiles) {
    Put(path, "[S]\nk=1\n");
    ::chmod(path.c_str(), 0640);
    std::string link = folder + "/link.ini";
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    ASSERT_TRUE(profile.WritePrivateProfileStringA("S", "k", "2", link));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Contents(path), "[S]\nk=2\n");
    int files = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(folder)) ++files;
    EXPECT_EQ(files, 2);
}

TEST_F(ProfileFileTest, RefusedAndFailedWritesLeaveTheFileAlone) {
    Put(path, "[S]\nk=1\n");
    EXPECT_FALSE(profile.WritePrivateProfileStringA("S", "k", "2\n[X]", path));
    EXPECT_EQ(Contents(path), "[S]\nk=1\n");

    ::chmod(path.c_str(), 0444);
    EXPECT_FALSE(profile.WritePrivateProfileStringA("S", "k", "2", path));
    EXPECT_EQ(Contents(path), "[S]\nk=1\n");

    // A folder we may not write: no new file, but an existing one is written in place.
    ::chmod(path.c_str(), 0644);
    ::chmod(folder.c_str(), 0555);
    EXPECT_FALSE(profile.WritePrivateProfileStringA("S", "k", "2", folder + "/new.ini"));
    EXPECT_TRUE(profile.WritePrivateProfileStringA("S", "k", "2", path));
    EXPECT_EQ(Contents(path), "[S]\nk=2\n");
    ::chmod(folder.c_str(), 0755);
}

// Whose file it is decides how it is written: ours is replaced keeping its
// group and mode; another user's is rewritten in place, keeping its owner. New
// files are group-writable unless the umask takes the group's access away,
// and take the group of a set-group-id folder.
TEST_F(ProfileFileTest, OwnershipDecidesReplacementAndNewFilesAreGroupWritable) {
    auto info = [](const std::string& file) {
        struct stat result {};
        EXPECT_EQ(::stat(file.c_str(), &result), 0) << file;
        return result;
    };
    const mode_t oldMask = ::umask(022);
    ASSERT_TRUE(profile.WritePrivateProfileStringA("S", "k", "1", path));
    EXPECT_EQ(info(path).st_mode & 07777, 0664u);
    ::umask(077);
    ASSERT_TRUE(profile.WritePrivateProfileStringA("S", "k", "1", folder + "/private.ini"));
    EXPECT_EQ(info(folder + "/private.ini").st_mode & 07777, 0600u);
    ::umask(oldMask);

    // Ours: replaced (a new inode), mode kept.
    ::chmod(path.c_str(), 0640);
    const ino_t before = info(path).st_ino;
    ASSERT_TRUE(profile.WritePrivateProfileStringA("S", "k", "2", path));
    EXPECT_NE(info(path).st_ino, before);
    EXPECT_EQ(info(path).st_mode & 07777, 0640u);

    if (::geteuid() != 0) GTEST_SKIP() << "other owners and groups need root";
    const uid_t other = 65534;  // nobody
    const gid_t group = 65534;  // nogroup
    // Ours, another group: the replacement keeps the group and its set-group-id bit.
    ASSERT_EQ(::chown(path.c_str(), ::geteuid(), group), 0);
    ASSERT_EQ(::chmod(path.c_str(), 02664), 0);
    ASSERT_TRUE(profile.WritePrivateProfileStringA("S", "k", "3", path));
    EXPECT_EQ(info(path).st_gid, group);
    EXPECT_EQ(info(path).st_mode & 07777, 02664u);

    // Another user's: the same file, rewritten in place.
    ASSERT_EQ(::chown(path.c_str(), other, group), 0);
    const ino_t theirs = info(path).st_ino;
    ASSERT_TRUE(profile.WritePrivateProfileStringA("S", "k", "4", path));
    EXPECT_EQ(info(path).st_ino, theirs);
    EXPECT_EQ(info(path).st_uid, other);
    EXPECT_EQ(Contents(path), "[S]\nk=4\n");

    // A shared set-group-id folder: a new file takes its group, group-writable.
    const std::string shared = folder + "/shared";
    std::filesystem::create_directory(shared);
    ASSERT_EQ(::chown(shared.c_str(), ::geteuid(), group), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 02775), 0);
    ASSERT_TRUE(profile.WritePrivateProfileStringA("S", "k", "1", shared + "/console.ini"));
    EXPECT_EQ(info(shared + "/console.ini").st_gid, group);
    EXPECT_EQ(info(shared + "/console.ini").st_mode & 0070, 0060u);
}

// A byte-order mark is read past and kept; a batch goes onto the file as it is
// at the end, so a key another writer changed meanwhile is not undone.
TEST_F(ProfileFileTest, ByteOrderMarkAndConcurrentWritersAreKept) {
    Put(path, "\xEF\xBB\xBF[NETWORK]\r\nrouter1=1\r\n");
    EXPECT_EQ(Get("NETWORK", "router1", "x"), "1");
    ASSERT_TRUE(profile.WritePrivateProfileStringA("NETWORK", "router1", "2", path));
    EXPECT_EQ(Contents(path), "\xEF\xBB\xBF[NETWORK]\r\nrouter1=2\r\n");

    profile.BeginBatch(path);
    ASSERT_TRUE(profile.WritePrivateProfileStringA("NETWORK", "router2", "3", path));
    IniProfileFile other;
    ASSERT_TRUE(other.WritePrivateProfileStringA("NETWORK", "router1", "9", path));
    EXPECT_TRUE(profile.EndBatch());
    EXPECT_EQ(Contents(path), "\xEF\xBB\xBF[NETWORK]\r\nrouter1=9\r\nrouter2=3\r\n");
}

TEST_F(ProfileFileTest, DeletingWhatIsNotThereCreatesNothing) {
    EXPECT_TRUE(profile.WritePrivateProfileStringA("S", "k", std::nullopt, path));
    EXPECT_TRUE(profile.WritePrivateProfileStringA("S", std::nullopt, std::nullopt, path));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ProfileFileTest, BatchedWritesGoOutAsOneReplacement) {
    Put(path, "[S]\nk=1\n");
    profile.BeginBatch(path);
    EXPECT_TRUE(profile.WritePrivateProfileStringA("S", "k", "2", path));
    EXPECT_TRUE(profile.WritePrivateProfileStringA("T", "", "", path));
    EXPECT_FALSE(profile.WritePrivateProfileStringA("T", "bad", "\r", path));
    EXPECT_EQ(Get("s", "K", "x"), "2");  // reads see the gathered writes
    EXPECT_EQ(Contents(path), "[S]\nk=1\n");
    EXPECT_TRUE(profile.EndBatch());
    EXPECT_EQ(Contents(path), "[S]\nk=2\n[T]\n=\n");
    EXPECT_TRUE(profile.EndBatch());  // no batch open

    ::chmod(path.c_str(), 0444);
    profile.BeginBatch(path);
    EXPECT_FALSE(profile.WritePrivateProfileStringA("S", "k", "3", path));
    EXPECT_TRUE(profile.EndBatch());
    EXPECT_EQ(Contents(path), "[S]\nk=2\n[T]\n=\n");
}

// A writer killed at any moment leaves the old file or the new one, whole.
TEST_F(ProfileFileTest, KilledWriterNeverLeavesATornFile) {
    const std::string big(64 * 1024, 'x');
    auto expected = [&](char fill) {
        return "[Head]\nkeep=1\n[Data]\npayload=" + std::string(big.size(), fill) + "\n";
    };
    Put(path, expected('a'));
    std::mt19937 random(7);
    for (int round = 0; round < 25; ++round) {
        int progress[2];
        ASSERT_EQ(::pipe(progress), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(progress[0]);
            IniProfileFile writer;
            for (int i = 0;; ++i) {
                std::string value(big.size(), i % 2 ? 'a' : 'b');
                writer.WritePrivateProfileStringA("Data", "payload", value, path);
                if (::write(progress[1], "+", 1) != 1) ::_exit(1);
            }
        }
        ::close(progress[1]);
        // Let the child finish a random number of writes, then kill it mid-way.
        int wanted = static_cast<int>(random() % 4);
        char mark = 0;
        for (int done = 0; done < wanted; ++done) ASSERT_EQ(::read(progress[0], &mark, 1), 1);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(progress[0]);
        std::string now = Contents(path);
        EXPECT_TRUE(now == expected('a') || now == expected('b'))
            << "round " << round << ": " << now.size() << " bytes";
    }
    // Temporary files of killed writers are the only leftovers; the file reads as before.
    EXPECT_EQ(Get("Head", "keep", "missing"), "1");
}

}  // namespace
}  // namespace orvel::platform
