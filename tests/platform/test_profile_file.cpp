#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "TempDir.h"
#include "platform/IniProfileFile.h"
#include "platform/IniProfileFormat.h"

namespace orvel::platform {
namespace {

using ini::ApplyWrite;
using ini::FindValue;
using ini::ReadValue;
using namespace std::string_literals;
using namespace std::string_view_literals;
const std::string kBom = "\xEF\xBB\xBF";

// A UTF-16 file's bytes: byte-order mark, then the units of text.
std::string Utf16(std::u16string_view text, bool little = true) {
    std::string bytes;
    for (char16_t unit : u"\uFEFF"s + std::u16string(text)) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += little ? low : high;
        bytes += little ? high : low;
    }
    return bytes;
}

// What a read answers, case by case: the file's bytes, the call, the answer.
TEST(IniText, ReadsAsWindowsDoes) {
    const std::string lines =
        "orphan=1\n[A] trailing]\n; key=comment\n#hash=ordinary\n"
        "no equals sign\nempty=\ndup=first\ndup=second\neq = a=b;c#d \n"
        "q1=\"quoted\"\nq2='x'\nq3=\"\nq4=\"mixed'\n"
        "  \t key with blanks \t=\v\f value \x1A\n"
        "[open\nafter=still A\n[ B\t]\nk=in b\n[a]\nhidden=second\n"
        "[]\nbracketed=1\n";
    const struct {
        std::string bytes, section, key;
        std::optional<std::string_view> fallback;
        std::string expected;
    } cases[] = {
        {lines, "A", "key", "-", "-"},
        {lines, "A", "#hash", "-", "ordinary"},
        {lines, "A", "no equals sign", "-", "-"},
        {lines, "A", "empty", "-", ""},
        {lines, "A", "dup", "-", "first"},
        {lines, "A", "eq", "-", "a=b;c#d"},
        {lines, "A", "q1", "-", "quoted"},
        {lines, "A", "q2", "-", "x"},
        {lines, "A", "q3", "-", "\""},
        {lines, "A", "q4", "-", "\"mixed'"},
        {lines, "A", "key with blanks", "-", "value"},
        // "[open" has no ']': no header, its lines stay in [A].
        {lines, "A", "after", "-", "still A"},
        {lines, "open", "after", "-", "-"},
        {lines, "b", "k", "-", "in b"},
        {lines, "A", "hidden", "-", "-"},  // the second [a] is never reached
        // The section "" is what stands before the first header; "[]" is never reached.
        {lines, "", "orphan", "-", "1"},
        {lines, "", "bracketed", "-", "-"},
        // The caller's names lose blanks and Ctrl-Z as the file's do.
        {lines, " \tA\x1A", "\tdup ", "-", "first"},
        // Ctrl-Z after a value is trimmed; a NUL ends a value, before quotes go.
        {"[S]\r\nk=v\x1A\r\nz=v\x1A", "S", "z", "-", "v"},
        {"[S]\nk=a\0b\nq=\"a\0b\"\n"s, "S", "k", "-", "a"},
        {"[S]\nk=a\0b\nq=\"a\0b\"\n"s, "S", "q", "-", "\"a"},
        // Defaults lose trailing spaces and outer quotes; NULL is "".
        {"", "S", "k", "\"q\"  ", "q"},
        {"", "S", "k", "  'q'", "  'q'"},
        {"", "S", "k", "\"", "\""},
        {"", "S", "k", std::nullopt, ""},
        // UTF-16 files, either byte order, read as UTF-8 text.
        {Utf16(u"[Größe]\r\nWert=\"Ä 😀\"\r\n"), "Größe", "wert", "-", "Ä 😀"},
        {Utf16(u"[S]\r\nk=v\r\n", false), "s", "K", "-", "v"},
        {Utf16(u"[S]\r\nk=v\r\n") + "\x01", "S", "k", "-", "v"},  // an odd last byte
        {Utf16(u"[S]\r\nk=a\xD800-\xDC00\xDBFF\xDFFF"
               u"b\r\n"),
         "S", "k", "-",
         "a?-?\xF4\x8F\xBF\xBF"
         "b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadValue(c.bytes, c.section, c.key, c.fallback), c.expected)
            << "[" << c.section << "] " << c.key << " in " << c.bytes;
    }

    // Every line end; a leading byte-order mark is no part of the first header.
    for (std::string_view lineEnd : {"\r\n", "\n", "\r"}) {
        const std::string text =
            kBom + "[Net]" + std::string(lineEnd) + "Port = 1234" + std::string(lineEnd) + "Last=x";
        EXPECT_EQ(FindValue(text, "NET", "port"), "1234") << "line end " << lineEnd.size();
        EXPECT_EQ(FindValue(text, " net ", " LAST "), "x");
    }
}

// What a write makes of a file, case by case; nullopt: refused, file untouched.
TEST(IniText, WritesAsWindowsDo) {
    const std::string crlf = kBom + "; top\r\n[Net]\r\n  PORT = 1 \r\n\r\n; tail\r\n[Other]\r\nx=1";
    const std::string dup = "[A]\nk=1\nj=2\n; c\n[B]\nk=3\n[a]\nk=4\n";
    const struct {
        std::string bytes;
        std::string_view section;
        std::optional<std::string_view> key, value;
        std::optional<std::string> expected;
    } cases[] = {
        // Only the written line changes; new lines end as the first line does.
        {crlf, "net", "port", "2",
         kBom + "; top\r\n[Net]\r\nPORT=2\r\n\r\n; tail\r\n[Other]\r\nx=1"},
        {crlf, "NET", "New", "v",
         kBom + "; top\r\n[Net]\r\n  PORT = 1 \r\nNew=v\r\n\r\n; tail\r\n[Other]\r\nx=1"},
        {crlf, "other", "y", "2",
         kBom + "; top\r\n[Net]\r\n  PORT = 1 \r\n\r\n; tail\r\n[Other]\r\nx=1\r\ny=2\r\n"},
        {"[A]\rk=1\r", " New ", " key ", " v ", "[A]\rk=1\r[New]\rkey= v \r"},
        {"[A]\nk=1", "B", "k", "2", "[A]\nk=1\n[B]\nk=2\n"},
        {"", "A", "k", "v", "[A]\nk=v\n"},
        {kBom, "S", "k", "v", kBom + "[S]\nk=v\n"},
        {"[A]\n\n; c\n[B]\n", "a", "k", "v", "[A]\nk=v\n\n; c\n[B]\n"},
        {"[S]\na=1\n", "S", "", "", "[S]\na=1\n=\n"},
        {"[S]\n=\n", "s", "", "x", "[S]\n=x\n"},
        // Deletes take the first block's key, or its header up to the next one;
        // deleting what is not there, or writing what is, changes nothing.
        {dup, "a", "K", std::nullopt, "[A]\nj=2\n; c\n[B]\nk=3\n[a]\nk=4\n"},
        {dup, "a", std::nullopt, std::nullopt, "[B]\nk=3\n[a]\nk=4\n"},
        {dup, "b", std::nullopt, "ignored", "[A]\nk=1\nj=2\n; c\n[a]\nk=4\n"},
        {dup, "C", "k", std::nullopt, dup},
        {dup, "A", ";k", std::nullopt, dup},
        {dup, "A", "j", "2", dup},
        {Utf16(u"[S]\r\nk=1\r\n"), "S", "k", "1", Utf16(u"[S]\r\nk=1\r\n")},
        // Names lose tabs, spaces and Ctrl-Z, so the section is found, not repeated.
        {"[S]\nk=1\n", "\tS \x1A", " k\t", "2", "[S]\nk=2\n"},
        {"[S]\nk=1\n", "S", "\tk\r\n", "3", "[S]\nk=3\n"},
        // A "[S" without ']' is no header: the write makes the section.
        {"[S\n", "S", "k", "v", "[S\n[S]\nk=v\n"},
        // The section "" is the top of the file, before the first header.
        {"k=1\n[A]\nx=1\n", "", "j", "2", "k=1\nj=2\n[A]\nx=1\n"},
        {kBom + "; c\n[A]\n", "", "k", "v", kBom + "k=v\n; c\n[A]\n"},
        {"k=1\n[A]\nx=1\n", "", "K", "3", "k=3\n[A]\nx=1\n"},
        {"; c\nk=1\n[A]\n", "", std::nullopt, std::nullopt, "[A]\n"},
        {"[]\nk=1\n", "", "k", std::nullopt, "[]\nk=1\n"},
        // Names no read could find again, and line breaks or NULs, are refused.
        {"[S]\n", "a]b", "k", "v", std::nullopt},
        {"[S]\n", "S", ";k", "v", std::nullopt},
        {"[S]\n", "S", " [k]", "v", std::nullopt},
        {"[S]\n", "S", "a=b", "v", std::nullopt},
        {"[S]\n", "S", "k", "a\r\n[Evil]", std::nullopt},
        {"[S]\n", "S", "k", "a\0b"sv, std::nullopt},
        {"[S]\n", "S", "k\rj", "v", std::nullopt},
        {"[S]\n", "S\nT", "k", "v", std::nullopt},
        // UTF-16 files stay UTF-16, and take new lines with CR LF.
        {Utf16(u"[S]\r\nk=1\r\n"), "S", "k", "Ä😀", Utf16(u"[S]\r\nk=Ä😀\r\n")},
        {Utf16(u""), "S", "k", "v", Utf16(u"[S]\r\nk=v\r\n")},
        {Utf16(u"[S]\nk=1\n", false), "T", "j", "2", Utf16(u"[S]\nk=1\n[T]\nj=2\n", false)},
        // A lone surrogate on a line the write does not touch keeps its units.
        {Utf16(u"; \xD800!\r\n[S]\r\n"), "S", "k", "v", Utf16(u"; \xD800!\r\n[S]\r\nk=v\r\n")},
        // What UTF-16 cannot hold, and a file with an odd last byte, are refused.
        {Utf16(u"[S]\r\n"), "S", "k", "\xE9t\xE9", std::nullopt},
        {Utf16(u"[S]\r\n"), "S\xFF", "k", "v", std::nullopt},
        {Utf16(u"[S]\r\n") + "\x01", "S", "k", "v", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto result = ApplyWrite(c.bytes, c.section, c.key, c.value);
        EXPECT_EQ(result ? std::optional(result->text) : std::nullopt, c.expected)
            << "[" << c.section << "] " << c.key.value_or("(null)") << "="
            << c.value.value_or("(null)") << " on " << c.bytes;
        if (result && c.expected) {
            EXPECT_EQ(result->changed, *c.expected != c.bytes);
        }
    }
}

// Random bytes (or UTF-16 units) and random edits: nothing crashes, and a
// value just written reads back.
TEST(IniText, RandomInputNeverBreaksReadsOrWrites) {
    std::mt19937 random(20260412);
    const std::u16string alphabet = u"[]=;#'\" \t\v\r\n\x1A\0abAB\xFF\xD800\xDC00\x20AC"s;
    for (int round = 0; round < 3000; ++round) {
        std::u16string units(random() % 200, u' ');
        for (char16_t& c : units) {
            c = random() % 4 == 0 ? static_cast<char16_t>(random() % 256)
                                  : alphabet[random() % alphabet.size()];
        }
        std::string text;
        if (round % 4 == 0) {
            text = Utf16(units, round % 8 == 0);
        } else {
            for (char16_t c : units) text += static_cast<char>(c);
            if (!text.empty() && (text[0] == '\xFF' || text[0] == '\xFE')) text[0] = 'a';
        }
        const std::string section(1, "abAB"[random() % 4]);
        const std::string key(1, "abAB"[random() % 4]);
        (void)FindValue(text, section, key);
        auto written = ApplyWrite(text, section, key, "v");
        ASSERT_TRUE(written) << "round " << round;
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

// A UTF-16 file is read and written as UTF-16; what it cannot hold is refused
// and leaves it as it was. A value longer than 65,535 characters stays whole.
TEST_F(ProfileFileTest, Utf16FilesAndLongValuesStayWhole) {
    Put(Utf16(u"[Größe]\r\nk=1\r\n"));
    EXPECT_EQ(Get("größe", "K", "-"), "1");
    EXPECT_TRUE(Write("Größe", "k", "Ä", path));
    EXPECT_FALSE(Write("Größe", "j", "\xC4", path));
    EXPECT_EQ(Contents(), Utf16(u"[Größe]\r\nk=Ä\r\n"));

    const std::string big = std::string(70000, 'x') + "Ä";
    ASSERT_TRUE(Write("Größe", "big", big, path));
    EXPECT_EQ(Get("Größe", "big", "-", 80000), big);
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
