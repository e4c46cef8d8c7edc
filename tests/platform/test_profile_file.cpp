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
const std::string kBom = "\xEF\xBB\xBF";

std::string Edit(std::string_view text, std::string_view section,
                 std::optional<std::string_view> key, std::optional<std::string_view> value) {
    auto result = ApplyWrite(text, section, key, value);
    EXPECT_TRUE(result.has_value());
    return result ? result->text : std::string();
}

TEST(IniText, SectionAndEntryRules) {
    // The lines of section [A], each with the key looked up there and what is found.
    const struct {
        std::string_view line, key;
        std::optional<std::string> found;
    } entries[] = {{"; key=comment", "key", std::nullopt},
                   {"#hash=ordinary", "#hash", "ordinary"},
                   {"no equals sign", "no equals sign", std::nullopt},
                   {"empty=", "empty", ""},
                   {"dup=first", "dup", "first"},
                   {"dup=second", "dup", "first"},
                   {"eq = a=b;c#d ", "eq", "a=b;c#d"},
                   {"q1=\"quoted\"", "q1", "quoted"},
                   {"q2='x'", "q2", "x"},
                   {"q3=\"", "q3", "\""},
                   {"q4=\"mixed'", "q4", "\"mixed'"},
                   {"  \t key with blanks \t=\v value ", "key with blanks", "value"}};
    std::string text = "orphan=1\n[A] trailing text\n";
    for (const auto& entry : entries) text += std::string(entry.line) + "\n";
    text += "[ B\nk=in b\n[a]\nhidden=second block\n[]\nnameless=yes\n";
    for (const auto& entry : entries) {
        EXPECT_EQ(FindValue(text, "A", entry.key), entry.found) << entry.line;
    }
    EXPECT_EQ(FindValue(text, "", "orphan"), std::nullopt);  // before any header
    EXPECT_EQ(FindValue(text, "b", "k"), "in b");
    EXPECT_EQ(FindValue(text, "A", "hidden"), std::nullopt);  // second [a] block is invisible
    EXPECT_EQ(FindValue(text, "", "nameless"), "yes");

    // Every line end; a leading byte-order mark is no part of the first header.
    for (std::string_view lineEnd : {"\r\n", "\n", "\r"}) {
        const std::string lines =
            kBom + "[Net]" + std::string(lineEnd) + "Port = 1234" + std::string(lineEnd) + "Last=x";
        EXPECT_EQ(FindValue(lines, "NET", "port"), "1234") << "line end " << lineEnd.size();
        EXPECT_EQ(FindValue(lines, " net ", " LAST "), "x");
    }
}

// A write changes only its own line, ends new lines as the text's first line
// ends, and keeps a byte-order mark; a line break or NUL in what it writes is refused.
TEST(IniText, WritesInPlaceKeepingOtherBytes) {
    const std::string text = kBom + "; top\r\n[Net]\r\n  PORT = 1 \r\n\r\n; tail\r\n[Other]\r\nx=1";
    EXPECT_EQ(Edit(text, "net", "port", "2"),
              kBom + "; top\r\n[Net]\r\nPORT=2\r\n\r\n; tail\r\n[Other]\r\nx=1");
    EXPECT_EQ(Edit(text, "NET", "New", "v"),
              kBom + "; top\r\n[Net]\r\n  PORT = 1 \r\nNew=v\r\n\r\n; tail\r\n[Other]\r\nx=1");
    // A new key after a last line without line end; a new section at the end.
    EXPECT_EQ(Edit(text, "other", "y", "2"),
              kBom + "; top\r\n[Net]\r\n  PORT = 1 \r\n\r\n; tail\r\n[Other]\r\nx=1\r\ny=2\r\n");
    EXPECT_EQ(Edit("[A]\rk=1\r", " New ", " key ", " v "), "[A]\rk=1\r[New]\rkey= v \r");
    EXPECT_EQ(Edit("[A]\nk=1", "B", "k", "2"), "[A]\nk=1\n[B]\nk=2\n");
    EXPECT_EQ(Edit("", "A", "k", "v"), "[A]\nk=v\n");
    EXPECT_EQ(Edit(kBom, "S", "k", "v"), kBom + "[S]\nk=v\n");
    // A section without entries takes the key right after its header.
    EXPECT_EQ(Edit("[A]\n\n; c\n[B]\n", "a", "k", "v"), "[A]\nk=v\n\n; c\n[B]\n");
    // An empty key is a line of its own.
    EXPECT_EQ(Edit("[S]\na=1\n", "S", "", ""), "[S]\na=1\n=\n");
    EXPECT_EQ(Edit("[S]\n=\n", "s", "", "x"), "[S]\n=x\n");
    EXPECT_FALSE(ApplyWrite("", "S", "k", "a\r\n[Evil]"));
    EXPECT_FALSE(ApplyWrite("", "S", "k", std::string_view("a\0b", 3)));
    EXPECT_FALSE(ApplyWrite("", "S", "k\r", "v"));
    EXPECT_FALSE(ApplyWrite("", "S\n", "k", "v"));
}

TEST(IniText, DeletesKeysAndSectionsAndKnowsWhenNothingChanged) {
    const std::string text = "[A]\nk=1\nj=2\n; c\n[B]\nk=3\n[a]\nk=4\n";
    EXPECT_EQ(Edit(text, "a", "K", std::nullopt), "[A]\nj=2\n; c\n[B]\nk=3\n[a]\nk=4\n");
    EXPECT_EQ(Edit(text, "a", std::nullopt, std::nullopt), "[B]\nk=3\n[a]\nk=4\n");
    EXPECT_EQ(Edit(text, "b", std::nullopt, "ignored"), "[A]\nk=1\nj=2\n; c\n[a]\nk=4\n");
    for (const auto& same : {ApplyWrite(text, "C", "k", std::nullopt).value(),
                             ApplyWrite(text, "A", "j", "2").value()}) {
        EXPECT_FALSE(same.changed);
        EXPECT_EQ(same.text, text);
    }
}

// Random bytes and random edits: nothing crashes, and a value just written reads back.
TEST(IniText, RandomInputNeverBreaksReadsOrWrites) {
    std::mt19937 random(20260412);
    using namespace std::string_view_literals;
    const std::string_view alphabet = "[]=;#'\" \t\v\r\nabAB\0x\xff"sv;
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 200, ' ');
        for (char& c : text) {
            c = random() % 4 == 0 ? static_cast<char>(random() % 256)
                                  : alphabet[random() % alphabet.size()];
        }
        const std::string section(1, "abAB"[random() % 4]);
        const std::string key(1, "abAB"[random() % 4]);
        (void)FindValue(text, section, key);
        auto written = ApplyWrite(text, section, key, "v");
        ASSERT_TRUE(written);
        ASSERT_EQ(FindValue(written->text, section, key), "v") << "round " << round;
        ASSERT_TRUE(ApplyWrite(written->text, section, key, std::nullopt));
        ASSERT_TRUE(ApplyWrite(written->text, section, std::nullopt, std::nullopt));
    }
}

class ProfileFileTest : public ::testing::Test {
  protected:
    std::string Contents() const { return fakes::ReadFile(path); }
    void Put(const std::string& text) const { fakes::WriteFile(path, text); }
    bool Write(std::string_view section, std::optional<std::string_view> key,
               std::optional<std::string_view> value, const std::string& file) {
        return profile.WritePrivateProfileStringA(section, key, value, file);
    }
    std::string Get(std::string_view section, std::string_view key,
                    std::optional<std::string_view> fallback, std::uint32_t size = 256) {
        std::vector<char> buffer(size + 1, '#');
        std::uint32_t count =
            profile.GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, path);
        EXPECT_EQ(buffer[count], '\0');
        return std::string(buffer.data(), count);
    }
    static struct stat Info(const std::string& file) {
        struct stat result {};
        EXPECT_EQ(::stat(file.c_str(), &result), 0) << file;
        return result;
    }

    fakes::TempDir temp{"orvel-profile"};
    IniProfileFile profile;
    std::string folder = temp.str();
    std::string path = temp.str("Orvel Console.ini");
};

TEST_F(ProfileFileTest, ReadsValuesDefaultsAndCutsToTheBuffer) {
    EXPECT_EQ(Get("S", "k", "fallback  "), "fallback");  // missing file
    EXPECT_EQ(Get("S", "k", std::nullopt), "");
    Put("[S]\r\nk=0123456789\r\nempty=\r\n");
    EXPECT_EQ(Get("s", "K", "x"), "0123456789");
    EXPECT_EQ(Get("S", "k", "x", 5), "0123");
    EXPECT_EQ(Get("S", "k", "x", 1), "");
    EXPECT_EQ(Get("S", "empty", "x"), "");
    EXPECT_EQ(Get("S", "gone", "long default", 5), "long");
}

TEST_F(ProfileFileTest, RefusedAndFailedWritesLeaveTheFileAlone) {
    // Deleting what is not there makes no file; nor does a folder that is missing.
    EXPECT_TRUE(Write("S", "k", std::nullopt, path));
    EXPECT_TRUE(Write("S", std::nullopt, std::nullopt, path));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(Write("S", "k", "v", folder + "/missing/x.ini"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));

    Put("[S]\nk=1\n");
    EXPECT_FALSE(Write("S", "k", "2\n[X]", path));
    EXPECT_EQ(Contents(), "[S]\nk=1\n");

    // A folder we may not write: no new file, but an existing one is written in place.
    ::chmod(folder.c_str(), 0555);
    EXPECT_FALSE(Write("S", "k", "2", folder + "/new.ini"));
    EXPECT_TRUE(Write("S", "k", "2", path));
    EXPECT_EQ(Contents(), "[S]\nk=2\n");
    ::chmod(folder.c_str(), 0755);
}

// Whose file it is decides how it is written: ours is replaced through its link,
// keeping group and mode, and leaves no temporary file; another user's is
// rewritten in place, keeping its owner. New files are group-writable unless
// the umask takes the group's access away, and take the group of a
// set-group-id folder.
TEST_F(ProfileFileTest, OwnershipDecidesReplacementAndNewFilesAreGroupWritable) {
    const mode_t oldMask = ::umask(022);
    ASSERT_TRUE(Write("S", "k", "1", path));
    EXPECT_EQ(Info(path).st_mode & 07777, 0664u);
    ::umask(077);
    ASSERT_TRUE(Write("S", "k", "1", folder + "/private.ini"));
    EXPECT_EQ(Info(folder + "/private.ini").st_mode & 07777, 0600u);
    ::umask(oldMask);

    ::chmod(path.c_str(), 0640);
    const std::string link = folder + "/link.ini";
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    const ino_t before = Info(path).st_ino;
    ASSERT_TRUE(Write("S", "k", "2", link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_NE(Info(path).st_ino, before);
    EXPECT_EQ(Info(path).st_mode & 07777, 0640u);
    EXPECT_EQ(Contents(), "[S]\nk=2\n");
    const std::filesystem::directory_iterator files(folder);
    EXPECT_EQ(std::distance(begin(files), end(files)), 3) << "a temporary file is left";

    if (::geteuid() != 0) GTEST_SKIP() << "other owners and groups need root";
    const uid_t other = 65534;  // nobody
    const gid_t group = 65534;  // nogroup
    // Ours, another group: the replacement keeps the group and its set-group-id bit.
    ASSERT_EQ(::chown(path.c_str(), ::geteuid(), group), 0);
    ASSERT_EQ(::chmod(path.c_str(), 02664), 0);
    ASSERT_TRUE(Write("S", "k", "3", path));
    EXPECT_EQ(Info(path).st_gid, group);
    EXPECT_EQ(Info(path).st_mode & 07777, 02664u);

    ASSERT_EQ(::chown(path.c_str(), other, group), 0);
    const ino_t theirs = Info(path).st_ino;
    ASSERT_TRUE(Write("S", "k", "4", path));
    EXPECT_EQ(Info(path).st_ino, theirs);
    EXPECT_EQ(Info(path).st_uid, other);
    EXPECT_EQ(Contents(), "[S]\nk=4\n");

    const std::string shared = folder + "/shared";
    std::filesystem::create_directory(shared);
    ASSERT_EQ(::chown(shared.c_str(), ::geteuid(), group), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 02775), 0);
    ASSERT_TRUE(Write("S", "k", "1", shared + "/console.ini"));
    EXPECT_EQ(Info(shared + "/console.ini").st_gid, group);
    EXPECT_EQ(Info(shared + "/console.ini").st_mode & 0070, 0060u);
}

// A batch is one replacement at its end, seen by reads meanwhile. It goes onto
// the file as it is then, so a key another writer changed is not undone.
TEST_F(ProfileFileTest, BatchedWritesGoOutAsOneReplacement) {
    Put(kBom + "[S]\r\nk=1\r\n");
    profile.BeginBatch(path);
    EXPECT_TRUE(Write("S", "k", "2", path));
    EXPECT_TRUE(Write("T", "", "", path));
    EXPECT_FALSE(Write("T", "bad", "\r", path));
    EXPECT_EQ(Get("s", "K", "x"), "2");
    EXPECT_EQ(Contents(), kBom + "[S]\r\nk=1\r\n");
    IniProfileFile other;
    ASSERT_TRUE(other.WritePrivateProfileStringA("S", "j", "9", path));
    EXPECT_TRUE(profile.EndBatch());
    const std::string written = Contents();
    EXPECT_EQ(written, kBom + "[S]\r\nk=2\r\nj=9\r\n[T]\r\n=\r\n");
    EXPECT_TRUE(profile.EndBatch());  // no batch open

    ::chmod(path.c_str(), 0444);
    profile.BeginBatch(path);
    EXPECT_FALSE(Write("S", "k", "3", path));
    EXPECT_TRUE(profile.EndBatch());
    EXPECT_EQ(Contents(), written);
}

// A writer killed at any moment leaves the old file or the new one, whole.
TEST_F(ProfileFileTest, KilledWriterNeverLeavesATornFile) {
    const std::size_t size = 64 * 1024;
    auto expected = [&](char fill) {
        return "[Head]\nkeep=1\n[Data]\npayload=" + std::string(size, fill) + "\n";
    };
    Put(expected('a'));
    std::mt19937 random(7);
    for (int round = 0; round < 25; ++round) {
        int progress[2];
        ASSERT_EQ(::pipe(progress), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(progress[0]);
            IniProfileFile writer;
            for (int i = 0;; ++i) {
                writer.WritePrivateProfileStringA("Data", "payload",
                                                  std::string(size, i % 2 ? 'a' : 'b'), path);
                if (::write(progress[1], "+", 1) != 1) ::_exit(1);
            }
        }
        ::close(progress[1]);
        // Let the child finish a random number of writes, then kill it mid-way.
        char mark = 0;
        for (int done = random() % 4; done > 0; --done) ASSERT_EQ(::read(progress[0], &mark, 1), 1);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(progress[0]);
        const std::string now = Contents();
        EXPECT_TRUE(now == expected('a') || now == expected('b'))
            << "round " << round << ": " << now.size() << " bytes";
    }
}

}  // namespace
}  // namespace orvel::platform
