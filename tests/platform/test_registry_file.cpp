// The registry store as a file: creation, layout, damaged files, other users,
// concurrent writers and killed writers.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "TempDir.h"
#include "platform/linux/SqliteRegistry.h"

namespace orvel::platform {
namespace {

namespace fs = std::filesystem;
using fakes::ReadFile;
using TempFolder = fakes::TempDir;

LONG WriteString(Registry& registry, std::string_view path, std::string_view name,
                 const std::string& text) {
    HKEY key = 0;
    LONG result = registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key);
    if (result != ERROR_SUCCESS) return result;
    result = registry.RegSetValueExA(key, name, REG_SZ,
                                     reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                     static_cast<DWORD>(text.size() + 1));
    registry.RegCloseKey(key);
    return result;
}

// The string read (without its NUL), or "<error N>".
std::string ReadString(Registry& registry, std::string_view path, std::string_view name) {
    HKEY key = 0;
    LONG result = registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) return "<error " + std::to_string(result) + ">";
    std::string buffer(4096, '\0');
    DWORD size = 4096;
    DWORD type = 0;
    result = registry.RegQueryValueExA(key, name, &type,
                                       reinterpret_cast<std::uint8_t*>(buffer.data()), &size);
    registry.RegCloseKey(key);
    if (result != ERROR_SUCCESS) return "<error " + std::to_string(result) + ">";
    if (size == 0 || buffer[size - 1] != '\0') return "<not terminated>";
    return buffer.substr(0, size - 1);
}

// Runs body in a child process; its exit code is the child's verdict.
int InChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(RegistryFileTest, NewStoreIsCreatedReadableByAllAndKeepsItsValues) {
    TempFolder temp;
    const fs::path folder = temp.path() / "var" / "orvel";
    const fs::path store = folder / "registry.db";
    const mode_t oldMask = ::umask(077);
    {
        SqliteRegistry registry(store.string());
        EXPECT_EQ(registry.StoreProblem(), "");
        EXPECT_TRUE(registry.CanWrite());
        EXPECT_EQ(WriteString(registry, "SOFTWARE\\Quarlen", "Kept", "yes"), ERROR_SUCCESS);
    }
    ::umask(oldMask);
    EXPECT_EQ(ModeOf(folder), 0755u);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const fs::path file = store.string() + suffix;
        ASSERT_TRUE(fs::exists(file)) << file << " stays, so readers need not create it";
        EXPECT_EQ(ModeOf(file), 0644u) << file;
    }
    SqliteRegistry reopened(store.string());
    EXPECT_EQ(ReadString(reopened, "software\\quarlen", "KEPT"), "yes");
    EXPECT_EQ(reopened.CheckIntegrity(), "ok");
}

TEST(RegistryFileTest, DamagedStoreIsReportedAndNeverWritten) {
    TempFolder temp;
    struct Case {
        const char* label;
        std::string bytes;
    };
    std::string foreignDatabase;
    {
        // A healthy SQLite file of some other program.
        const fs::path other = temp.path() / "other.db";
        {
            SqliteRegistry registry(other.string());  // makes a store ...
        }
        std::string bytes = ReadFile(other);
        bytes[68] ^= 0x55;  // ... whose application id is not ours
        foreignDatabase = bytes;
    }
    const Case cases[] = {
        {"garbage",
         std::string("this is not a database, just some text\n") + std::string(5000, 'x')},
        {"short garbage", "x"},
        {"truncated header", std::string("SQLite format 3\0", 16) + std::string(84, '\1')},
        {"foreign database", foreignDatabase},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.label);
        const fs::path store = temp.path() / "damaged.db";
        fs::remove(store);
        fs::remove(store.string() + "-wal");
        fs::remove(store.string() + "-shm");
        std::ofstream(store, std::ios::binary) << each.bytes;
        {
            SqliteRegistry registry(store.string());
            const std::string problem = registry.StoreProblem();
            EXPECT_NE(problem.find(store.string()), std::string::npos) << problem;
            EXPECT_EQ(problem.find('\n'), std::string::npos);
            HKEY key = 0;
            EXPECT_NE(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &key), 0);
            EXPECT_EQ(registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", &key), ERROR_BADDB);
            EXPECT_EQ(registry.RegSetValueExA(HKEY_LOCAL_MACHINE, "v", REG_BINARY, nullptr, 0),
                      ERROR_BADDB);
            EXPECT_NE(registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"), 0);
            std::string name;
            EXPECT_NE(registry.RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, &name), 0);
        }
        EXPECT_TRUE(ReadFile(store) == each.bytes) << "the damaged file was changed";
        if (each.bytes.rfind("SQLite", 0) != 0) {
            EXPECT_FALSE(fs::exists(store.string() + "-wal"));
        }
    }

    // A folder where the file should be cannot be read as one.
    const fs::path folder = temp.path() / "folder.db";
    fs::create_directory(folder);
    SqliteRegistry registry(folder.string());
    EXPECT_NE(registry.StoreProblem(), "");
}

// One process reads keys it found before, after another deleted and made them again.
TEST(RegistryFileTest, KeysRemadeByAnotherWriterAreFoundAgain) {
    TempFolder temp;
    const std::string store = (temp.path() / "registry.db").string();
    SqliteRegistry reader(store);
    SqliteRegistry writer(store);
    ASSERT_EQ(WriteString(writer, "SOFTWARE\\Quarlen\\Path", "Root", "old"), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(reader, "SOFTWARE\\Quarlen\\Path", "Root"), "old");

    ASSERT_EQ(writer.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Path"), 0);
    EXPECT_EQ(ReadString(reader, "SOFTWARE\\Quarlen\\Path", "Root"), "<error 2>");
    ASSERT_EQ(WriteString(writer, "SOFTWARE\\Quarlen\\PATH", "Root", "new"), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(reader, "SOFTWARE\\Quarlen\\Path", "Root"), "new");

    // A key the reader knows is deleted and made again: its writes go to the new key.
    HKEY key = 0;
    ASSERT_EQ(reader.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Path", 0, KEY_ALL_ACCESS,
                                   &key),
              ERROR_SUCCESS);
    ASSERT_EQ(reader.RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(writer.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Path"), 0);
    ASSERT_EQ(WriteString(writer, "SOFTWARE\\Quarlen\\Path", "Other", "x"), ERROR_SUCCESS);
    EXPECT_EQ(WriteString(reader, "SOFTWARE\\Quarlen\\Path", "Root", "again"), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(writer, "SOFTWARE\\Quarlen\\Path", "Root"), "again");
    EXPECT_EQ(reader.CheckIntegrity(), "ok");
}

// A read-only open never makes a store, not even where it could, and never writes one.
TEST(RegistryFileTest, ReadOnlyOpenNeverCreatesOrWrites) {
    TempFolder temp;
    const fs::path store = temp.path() / "missing" / "registry.db";
    {
        SqliteRegistry registry(store.string(), StoreAccess::ReadOnly);
        EXPECT_FALSE(registry.Exists());
        EXPECT_EQ(registry.StoreProblem(), "");
        EXPECT_EQ(ReadString(registry, "SOFTWARE", "x"), "<error 2>");
        EXPECT_EQ(WriteString(registry, "SOFTWARE\\X", "v", "t"), ERROR_ACCESS_DENIED);
    }
    EXPECT_FALSE(fs::exists(store.parent_path())) << "not even the folder is made";

    {
        SqliteRegistry writer(store.string());
        ASSERT_EQ(WriteString(writer, "SOFTWARE\\Quarlen", "Root", "/opt/q"), ERROR_SUCCESS);
    }
    const std::string before = ReadFile(store);
    SqliteRegistry registry(store.string(), StoreAccess::ReadOnly);
    EXPECT_TRUE(registry.Exists());
    EXPECT_FALSE(registry.CanWrite()) << "although this process may write the file";
    EXPECT_EQ(ReadString(registry, "SOFTWARE\\Quarlen", "Root"), "/opt/q");
    EXPECT_EQ(WriteString(registry, "SOFTWARE\\Quarlen", "Root", "other"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegApplyBatch(
                  [&] { return WriteString(registry, "SOFTWARE\\Quarlen", "Root", "batch"); }),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadFile(store), before);
}

TEST(RegistryFileTest, EmptyFileBecomesAStore) {
    TempFolder temp;
    const fs::path store = temp.path() / "registry.db";
    std::ofstream(store).close();
    SqliteRegistry registry(store.string());
    EXPECT_EQ(registry.StoreProblem(), "");
    EXPECT_EQ(WriteString(registry, "SOFTWARE", "v", "1"), ERROR_SUCCESS);
}

// Checks run as the unprivileged user "nobody": a store it may not write is
// still read in full, and every write answers 5.
TEST(RegistryFileTest, ReadOnlyStoreIsReadableAndRefusesWrites) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TempFolder temp;
    ::chmod(temp.path().c_str(), 0755);
    const fs::path store = temp.path() / "store" / "registry.db";
    {
        SqliteRegistry registry(store.string());
        ASSERT_EQ(WriteString(registry, "SOFTWARE\\Quarlen\\Corvane\\Path", "Root", "/opt/c"),
                  ERROR_SUCCESS);
        ASSERT_EQ(WriteString(registry, "SOFTWARE\\Classes\\AppID\\{A}", "RunAs", "me"),
                  ERROR_SUCCESS);
    }
    // Also while a writer holds the store open with changes still in its WAL. The
    // writer is a process of its own: a connection must not be carried across fork().
    int ready[2];
    int finish[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(finish), 0);
    const pid_t writer = ::fork();
    if (writer == 0) {
        ::close(finish[1]);
        SqliteRegistry registry(store.string());
        char byte = WriteString(registry, "SOFTWARE\\Quarlen", "Fresh", "in wal") == 0 ? 1 : 0;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
        ::read(finish[0], &byte, 1);
        ::_exit(0);
    }
    char written = 0;
    ASSERT_EQ(::read(ready[0], &written, 1), 1);
    ASSERT_EQ(written, 1);

    const int verdict = InChild([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 90;
        SqliteRegistry registry(store.string());
        if (!registry.StoreProblem().empty()) return 2;
        if (registry.CanWrite()) return 3;
        if (ReadString(registry, "SOFTWARE\\Quarlen\\Corvane\\Path", "Root") != "/opt/c") return 4;
        if (ReadString(registry, "SOFTWARE\\Quarlen", "Fresh") != "in wal") return 5;
        HKEY key = 0;
        if (registry.RegOpenKeyExA(HKEY_CLASSES_ROOT, "AppID\\{a}", 0, KEY_READ, &key) != 0)
            return 6;
        if (registry.RegSetValueExA(key, "RunAs", REG_SZ, nullptr, 0) != ERROR_ACCESS_DENIED)
            return 7;
        registry.RegCloseKey(key);
        if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &key) !=
            ERROR_ACCESS_DENIED)
            return 8;
        if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_WRITE, &key) !=
            ERROR_ACCESS_DENIED)
            return 9;
        if (registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &key) != ERROR_ACCESS_DENIED)
            return 10;
        if (registry.RegSetValueExA(HKEY_LOCAL_MACHINE, "x", REG_SZ, nullptr, 0) !=
            ERROR_ACCESS_DENIED)
            return 11;
        if (registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane\\Path") !=
            ERROR_ACCESS_DENIED)
            return 12;
        return 0;
    });
    EXPECT_EQ(verdict, 0) << "the check that failed, numbered in the child";
    ::close(finish[1]);
    ::waitpid(writer, nullptr, 0);
    for (int end : {ready[0], ready[1], finish[0]}) ::close(end);
    SqliteRegistry registry(store.string());
    EXPECT_EQ(ReadString(registry, "SOFTWARE\\Quarlen\\Corvane\\Path", "Root"), "/opt/c");
    EXPECT_EQ(registry.CheckIntegrity(), "ok");

    // Where nobody may create the store, reads find nothing and writes are refused.
    const int missing = InChild([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 90;
        SqliteRegistry registry((temp.path() / "store" / "absent.db").string());
        if (!registry.StoreProblem().empty()) return 2;
        HKEY key = 0;
        if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key) != 2)
            return 3;
        if (registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &key) != 5) return 4;
        return 0;
    });
    EXPECT_EQ(missing, 0);
    EXPECT_FALSE(fs::exists(temp.path() / "store" / "absent.db"));

    // A store its user may not read at all is a problem, not an empty registry.
    ::chmod(store.c_str(), 0600);
    const int unreadable = InChild([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 90;
        SqliteRegistry registry(store.string());
        return registry.StoreProblem().find(store.string()) != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(unreadable, 0);
}

TEST(RegistryFileTest, TwoProcessesWriteAtOnce) {
    TempFolder temp;
    const std::string store = (temp.path() / "registry.db").string();
    { SqliteRegistry create(store); }
    constexpr int kValues = 200;
    auto writer = [&](const std::string& prefix) {
        return InChild([&] {
            SqliteRegistry registry(store);
            for (int i = 0; i < kValues; ++i) {
                const std::string path = "SOFTWARE\\Shared\\" + std::to_string(i % 7);
                if (WriteString(registry, path, prefix + std::to_string(i), prefix) != 0) return 1;
            }
            return 0;
        });
    };
    // Both children start together: fork the second before waiting for the first.
    const pid_t first = ::fork();
    if (first == 0) ::_exit(writer("a"));
    const int second = writer("b");
    int status = 0;
    ::waitpid(first, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(second, 0);

    SqliteRegistry registry(store);
    for (int i = 0; i < kValues; ++i) {
        const std::string path = "SOFTWARE\\Shared\\" + std::to_string(i % 7);
        EXPECT_EQ(ReadString(registry, path, "a" + std::to_string(i)), "a");
        EXPECT_EQ(ReadString(registry, path, "b" + std::to_string(i)), "b");
    }
    EXPECT_EQ(registry.CheckIntegrity(), "ok");
}

// A writer killed at any moment leaves a healthy store in which every value it
// finished writing is whole.
TEST(RegistryFileTest, KilledWriterLeavesEveryCommittedValueWhole) {
    TempFolder temp;
    const std::string store = (temp.path() / "registry.db").string();
    { SqliteRegistry create(store); }
    const std::string big(3000, 'v');
    std::mt19937 random(7);
    int pipeEnds[2];
    for (int round = 0; round < 12; ++round) {
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeEnds[0]);
            SqliteRegistry registry(store);
            for (int i = 0;; ++i) {
                const std::string path =
                    "SOFTWARE\\Round" + std::to_string(round) + "\\K" + std::to_string(i % 5);
                const std::string text = std::to_string(i) + ":" + big;
                if (WriteString(registry, path, "V" + std::to_string(i), text) != 0) ::_exit(1);
                // Tell the parent which values are committed.
                if (::write(pipeEnds[1], &i, sizeof i) != sizeof i) ::_exit(2);
            }
        }
        ::close(pipeEnds[1]);
        // Let it write a varying number of values, then kill it mid-write.
        const int target = 20 + static_cast<int>(random() % 80);
        int committed = -1;
        int next = 0;
        while (committed < target && ::read(pipeEnds[0], &next, sizeof next) == sizeof next)
            committed = next;
        ::kill(child, SIGKILL);
        while (::read(pipeEnds[0], &next, sizeof next) == sizeof next) committed = next;
        ::close(pipeEnds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself in round " << round;

        SqliteRegistry registry(store);
        ASSERT_EQ(registry.StoreProblem(), "");
        ASSERT_EQ(registry.CheckIntegrity(), "ok") << "round " << round;
        for (int i = 0; i <= committed; ++i) {
            const std::string path =
                "SOFTWARE\\Round" + std::to_string(round) + "\\K" + std::to_string(i % 5);
            ASSERT_EQ(ReadString(registry, path, "V" + std::to_string(i)),
                      std::to_string(i) + ":" + big)
                << "round " << round << " value " << i;
        }
        // The value being written at the kill is whole or absent.
        const int last = committed + 1;
        const std::string path =
            "SOFTWARE\\Round" + std::to_string(round) + "\\K" + std::to_string(last % 5);
        const std::string text = ReadString(registry, path, "V" + std::to_string(last));
        EXPECT_TRUE(text == std::to_string(last) + ":" + big || text.rfind("<error", 0) == 0)
            << text.substr(0, 40);
    }
}

}  // namespace
}  // namespace orvel::platform
