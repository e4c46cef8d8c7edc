// The registry store as a file: creation, layout, damaged files, other users,
// concurrent writers and killed writers.

#include <gtest/gtest.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <string>
#include <thread>

#include "ChildAsNobody.h"
#include "RawSql.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "platform/linux/SqliteRegistry.h"

namespace orvel::platform {
namespace {

namespace fs = std::filesystem;
using fakes::ReadFile;
using fakes::Sz;

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

// The bytes stored (a string with its NUL); empty when the key or value is missing.
std::string ReadString(Registry& registry, std::string_view path, std::string_view name) {
    return fakes::Read(registry, HKEY_LOCAL_MACHINE, path, name).bytes;
}

// For checks run in a child process: the number of the first that failed, or 0.
int FirstFailed(std::initializer_list<bool> checks) {
    const auto failed = std::find(checks.begin(), checks.end(), false);
    return failed == checks.end() ? 0 : static_cast<int>(failed - checks.begin()) + 1;
}

int ExitCodeOf(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

mode_t ModeOf(const fs::path& path) {
    return static_cast<mode_t>(fs::status(path).permissions());
}

std::string KeyOf(int i) {
    return "SOFTWARE\\Shared\\" + std::to_string(i % 7);
}
std::string TextOf(int i) {
    return std::to_string(i) + ":" + std::string(3000, 'v');
}

using fakes::RawSql;

// A chain of levels keys (named L1, L2 ...) below the key parentId, made
// without the registry's depth limit.
std::string ChainSql(const std::string& parentId, int levels) {
    std::string sql =
        "CREATE TEMP TABLE chain(id INTEGER);"
        "INSERT INTO chain VALUES(" +
        parentId + ");";
    for (int level = 1; level <= levels; ++level) {
        sql += "INSERT INTO keys(parent, name) SELECT max(id), 'L" + std::to_string(level) +
               "' FROM chain; INSERT INTO chain VALUES(last_insert_rowid());";
    }
    return sql;
}

// One byte through a pipe, awaited for at most a minute (a peer that died).
bool Signal(int fd) {
    const char byte = 1;
    return ::write(fd, &byte, 1) == 1;
}
bool Await(int fd) {
    pollfd ready{fd, POLLIN, 0};
    char byte = 0;
    return ::poll(&ready, 1, 60000) == 1 && ::read(fd, &byte, 1) == 1;
}

// A writer process of its own (a connection must not be carried across
// fork()): writes value prefix + i for i below count (for ever when count < 0),
// telling reportFd each i committed, and then waits to be killed when it
// reports; exits 1 when a write fails.
pid_t StartWriter(const std::string& store, const std::string& prefix, int count,
                  int reportFd = -1) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    SqliteRegistry registry(store);
    for (int i = 0; count < 0 || i < count; ++i) {
        if (WriteString(registry, KeyOf(i), prefix + std::to_string(i), TextOf(i)) != 0) ::_exit(1);
        if (reportFd >= 0 && ::write(reportFd, &i, sizeof i) != sizeof i) ::_exit(2);
    }
    if (reportFd >= 0) ::pause();
    ::_exit(0);
}

// A read-only open never makes a store, not even where it could, and never
// writes one; a writer makes it with its folder, readable by all whatever the
// umask, its WAL files kept so that readers need not create them.
TEST(RegistryFileTest, WritersMakeTheStoreReadableByAllReadOnlyOpensNeverWrite) {
    fakes::TempDir temp;
    const fs::path folder = temp.path() / "var" / "orvel";
    const fs::path store = folder / "registry.db";
    {
        SqliteRegistry registry(store.string(), StoreAccess::ReadOnly);
        EXPECT_FALSE(registry.Exists());
        EXPECT_EQ(registry.StoreProblem(), "");
        EXPECT_FALSE(fakes::KeyExists(registry, HKEY_LOCAL_MACHINE, "SOFTWARE"));
        EXPECT_EQ(WriteString(registry, "SOFTWARE\\X", "v", "t"), ERROR_ACCESS_DENIED);
    }
    EXPECT_FALSE(fs::exists(temp.path() / "var")) << "not even the folder is made";

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
        ASSERT_TRUE(fs::exists(store.string() + suffix)) << suffix;
        EXPECT_EQ(ModeOf(store.string() + suffix), 0644u) << suffix;
    }
    const std::string before = ReadFile(store);
    {
        SqliteRegistry registry(store.string(), StoreAccess::ReadOnly);
        EXPECT_TRUE(registry.Exists());
        EXPECT_FALSE(registry.CanWrite()) << "although this process may write the file";
        EXPECT_EQ(ReadString(registry, "software\\quarlen", "KEPT"), Sz("yes"));
        EXPECT_EQ(WriteString(registry, "SOFTWARE\\Quarlen", "Kept", "no"), ERROR_ACCESS_DENIED);
        EXPECT_EQ(registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen"),
                  ERROR_ACCESS_DENIED);
        EXPECT_EQ(registry.RegApplyBatch(
                      [&] { return WriteString(registry, "SOFTWARE\\Quarlen", "Kept", "no"); }),
                  ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(ReadFile(store), before);
    EXPECT_EQ(SqliteRegistry(store.string()).CheckIntegrity(), "ok");

    // An empty file (made ready by an installer) becomes a store as well.
    fakes::WriteFile(temp.path() / "empty.db", "");
    SqliteRegistry fromEmpty(temp.str("empty.db"));
    EXPECT_EQ(fromEmpty.StoreProblem(), "");
    EXPECT_EQ(WriteString(fromEmpty, "SOFTWARE", "v", "1"), ERROR_SUCCESS);
}

TEST(RegistryFileTest, DamagedStoreIsReportedAndNeverWritten) {
    fakes::TempDir temp;
    // A healthy SQLite file of some other program: a store whose application id is not ours.
    const fs::path other = temp.path() / "other.db";
    { SqliteRegistry registry(other.string()); }
    std::string foreignDatabase = ReadFile(other);
    foreignDatabase[68] ^= 0x55;

    const struct {
        const char* label;
        std::string bytes;
    } cases[] = {
        {"garbage", "this is not a database, just some text\n" + std::string(5000, 'x')},
        {"short garbage", "x"},
        {"truncated header", std::string("SQLite format 3\0", 16) + std::string(84, '\1')},
        {"foreign database", foreignDatabase},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.label);
        const fs::path store = temp.path() / "damaged.db";
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(store.string() + suffix);
        fakes::WriteFile(store, each.bytes);
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
    fakes::TempDir temp;
    const std::string store = temp.str("registry.db");
    SqliteRegistry reader(store);
    SqliteRegistry writer(store);
    ASSERT_EQ(WriteString(writer, "SOFTWARE\\Quarlen\\Path", "Root", "old"), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(reader, "SOFTWARE\\Quarlen\\Path", "Root"), Sz("old"));

    ASSERT_EQ(writer.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Path"), 0);
    EXPECT_EQ(ReadString(reader, "SOFTWARE\\Quarlen\\Path", "Root"), "");
    ASSERT_EQ(WriteString(writer, "SOFTWARE\\Quarlen\\PATH", "Root", "new"), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(reader, "SOFTWARE\\Quarlen\\Path", "Root"), Sz("new"));

    // Deleted and made again after the reader found it: its writes go to the new key.
    ASSERT_EQ(writer.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Path"), 0);
    ASSERT_EQ(WriteString(writer, "SOFTWARE\\Quarlen\\Path", "Other", "x"), ERROR_SUCCESS);
    EXPECT_EQ(WriteString(reader, "SOFTWARE\\Quarlen\\Path", "Root", "again"), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(writer, "SOFTWARE\\Quarlen\\Path", "Root"), Sz("again"));
    EXPECT_EQ(reader.CheckIntegrity(), "ok");
}

// As the unprivileged user "nobody": a store it may not write is read in full,
// also while a writer holds changes in its WAL, and opened for reading only
// (the refusals of such a store are those of a read-only open); a store it may
// not create is empty; one it may not read at all is a problem.
TEST(RegistryFileTest, StoreOfAnotherUserIsReadableAndRefusesWrites) {
    if (!fakes::CanSwitchUser()) GTEST_SKIP() << "needs root to act as another user";
    fakes::TempDir temp;
    ::chmod(temp.path().c_str(), 0755);
    const fs::path store = temp.path() / "store" / "registry.db";
    const fs::path unreadable = temp.path() / "store" / "private.db";
    {
        SqliteRegistry registry(store.string());
        ASSERT_EQ(WriteString(registry, "SOFTWARE\\Quarlen\\Corvane\\Path", "Root", "/opt/c"),
                  ERROR_SUCCESS);
        ASSERT_EQ(WriteString(registry, "SOFTWARE\\Classes\\AppID\\{A}", "RunAs", "me"),
                  ERROR_SUCCESS);
    }
    fakes::WriteFile(unreadable, "not readable by nobody, whatever it holds");
    ::chmod(unreadable.c_str(), 0600);
    // A writer that stays, with its value still in the WAL.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t writer = StartWriter(store.string(), "Fresh", 1, ready[1]);
    int written = -1;
    ASSERT_EQ(::read(ready[0], &written, sizeof written), sizeof written);

    const int verdict = fakes::ChildAsNobody([&] {
        SqliteRegistry registry(store.string());
        SqliteRegistry absent((temp.path() / "store" / "absent.db").string());
        SqliteRegistry refused(unreadable.string());
        HKEY key = 0;
        return FirstFailed({
            registry.StoreProblem().empty(),
            !registry.CanWrite(),
            ReadString(registry, "SOFTWARE\\Quarlen\\Corvane\\Path", "Root") == Sz("/opt/c"),
            ReadString(registry, KeyOf(0), "Fresh0") == Sz(TextOf(0)),
            fakes::Read(registry, HKEY_CLASSES_ROOT, "AppID\\{a}", "RunAs").bytes == Sz("me"),
            registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_WRITE, &key) ==
                ERROR_ACCESS_DENIED,
            registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &key) == ERROR_ACCESS_DENIED,
            absent.StoreProblem().empty(),
            absent.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key) ==
                ERROR_FILE_NOT_FOUND,
            absent.RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &key) == ERROR_ACCESS_DENIED,
            refused.StoreProblem().find(unreadable.string()) != std::string::npos,
        });
    });
    EXPECT_EQ(verdict, 0) << "the check that failed, counted from 1 in the child";
    ::kill(writer, SIGKILL);
    ExitCodeOf(writer);
    for (int end : ready) ::close(end);
    EXPECT_FALSE(fs::exists(temp.path() / "store" / "absent.db"));
    SqliteRegistry registry(store.string());
    EXPECT_EQ(ReadString(registry, "SOFTWARE\\Quarlen\\Corvane\\Path", "Root"), Sz("/opt/c"));
    EXPECT_EQ(registry.CheckIntegrity(), "ok");
}

// A store whose WAL files were removed after it was closed (another program
// closed it, or registry.db was restored alone) is read by a user who may not
// write its folder, and that reader sees a writer's changes once a writer has
// opened the store again, while they are still in its WAL.
TEST(RegistryFileTest, StoreWithoutItsWalFilesIsReadByThoseWhoMayNotWrite) {
    if (!fakes::CanSwitchUser()) GTEST_SKIP() << "needs root to act as another user";
    fakes::TempDir temp;
    ::chmod(temp.path().c_str(), 0755);
    const fs::path store = temp.path() / "store" / "registry.db";
    {
        SqliteRegistry registry(store.string());
        ASSERT_EQ(WriteString(registry, "SOFTWARE\\Quarlen", "Root", "/opt/c"), ERROR_SUCCESS);
    }
    for (const char* suffix : {"-wal", "-shm"}) fs::remove(store.string() + suffix);

    int toWriter[2], toReader[2], parked[2];
    ASSERT_EQ(::pipe(toWriter), 0);
    ASSERT_EQ(::pipe(toReader), 0);
    ASSERT_EQ(::pipe(parked), 0);
    std::thread writer([&] {
        Signal(parked[1]);  // from here on it allocates nothing until the child lets it go
        if (!Await(toWriter[0])) return;
        SqliteRegistry registry(store.string());
        WriteString(registry, "SOFTWARE\\Quarlen", "Later", "yes");
        Signal(toReader[1]);
        Await(toWriter[0]);  // holds the store (its write still in the WAL) until read
    });
    // The child is forked only once the writer thread waits: a fork while it
    // held the allocator's lock would leave the child's allocator locked.
    ASSERT_TRUE(Await(parked[0]));
    const int verdict = fakes::ChildAsNobody([&] {
        SqliteRegistry registry(store.string());
        HKEY key = 0;
        const bool before =
            registry.StoreProblem().empty() && !registry.CanWrite() &&
            ReadString(registry, "SOFTWARE\\Quarlen", "Root") == Sz("/opt/c") &&
            registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", &key) == ERROR_ACCESS_DENIED;
        const bool written = Signal(toWriter[1]) && Await(toReader[0]);
        SqliteRegistry later(store.string());
        const int failed = FirstFailed({
            before,
            written,
            ReadString(registry, "SOFTWARE\\Quarlen", "Later") == Sz("yes"),
            ReadString(later, "SOFTWARE\\Quarlen", "Later") == Sz("yes"),
            registry.CheckIntegrity() == "ok",
        });
        Signal(toWriter[1]);
        return failed;
    });
    Signal(toWriter[1]);  // the child may have ended before it let the writer go
    Signal(toWriter[1]);
    writer.join();
    for (int end : {toWriter[0], toWriter[1], toReader[0], toReader[1], parked[0], parked[1]}) {
        ::close(end);
    }
    EXPECT_EQ(verdict, 0) << "the check that failed, counted from 1 in the child";
}

// A store that cannot be made for want of space says so and leaves no file
// behind that would later pass for an empty store.
TEST(RegistryFileTest, NewStoreOnAFullDiskNamesTheCauseAndLeavesNothing) {
    fakes::TempDir temp;
    const fs::path disk = temp.path() / "disk";
    fs::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "no small tmpfs can be mounted here: " << std::strerror(errno);
    }
    struct Unmount {
        const fs::path& disk;
        ~Unmount() { ::umount2(disk.c_str(), MNT_DETACH); }
    } unmount{disk};
    {
        std::ofstream filler(disk / "filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size())) {
        }
    }
    const fs::path store = disk / "registry.db";
    SqliteRegistry registry(store.string());
    EXPECT_NE(registry.StoreProblem().find("not enough space on the disk"), std::string::npos)
        << registry.StoreProblem();
    EXPECT_EQ(WriteString(registry, "SOFTWARE\\X", "v", "t"), ERROR_BADDB);
    for (const auto& entry : fs::directory_iterator(disk)) {
        EXPECT_EQ(entry.path().filename(), "filler") << "left behind: " << entry.path();
    }
}

// Keys made by other programs past the registry's rules (a sub-key without a
// name, a chain deeper than 512 levels) are deleted whole by RegDeleteTreeA;
// the by-names way of other registries refuses what it cannot name.
TEST(RegistryFileTest, TreesOfOtherProgramsAreDeletedWhole) {
    fakes::TempDir temp;
    const fs::path store = temp.path() / "registry.db";
    {
        SqliteRegistry registry(store.string());
        ASSERT_EQ(WriteString(registry, "SOFTWARE\\Odd", "v", "x"), ERROR_SUCCESS);
        ASSERT_EQ(WriteString(registry, "SOFTWARE\\Deep", "v", "x"), ERROR_SUCCESS);
    }
    RawSql(store,
           "INSERT INTO keys(parent, name) SELECT id, '' FROM keys WHERE name='Odd';"
           "INSERT INTO keys(parent, name) SELECT id, 'below' FROM keys WHERE name='';"
           "INSERT INTO key_values(key, name, type, data) SELECT id, 'w', 1, x'00' FROM keys"
           " WHERE name='below';");
    RawSql(store, ChainSql("(SELECT id FROM keys WHERE name='Deep')", 600));

    SqliteRegistry registry(store.string());
    fakes::StoreView byNames(registry);
    EXPECT_EQ(byNames.RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Odd"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(byNames.RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Deep"),
              ERROR_INVALID_PARAMETER);
    for (const char* key : {"SOFTWARE\\Odd", "SOFTWARE\\Deep"}) {
        EXPECT_EQ(registry.RegDeleteTreeA(HKEY_LOCAL_MACHINE, key), ERROR_SUCCESS) << key;
        EXPECT_FALSE(fakes::KeyExists(registry, HKEY_LOCAL_MACHINE, key)) << key;
    }
    EXPECT_EQ(registry.CheckIntegrity(), "ok");
    std::string name;
    EXPECT_EQ(registry.RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, &name), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegEnumKeyExA(HKEY_LOCAL_MACHINE, 1, &name), ERROR_NO_MORE_ITEMS);
}

TEST(RegistryFileTest, TwoProcessesWriteAtOnce) {
    fakes::TempDir temp;
    const std::string store = temp.str("registry.db");
    { SqliteRegistry create(store); }
    const pid_t first = StartWriter(store, "a", 200);
    const pid_t second = StartWriter(store, "b", 200);
    EXPECT_EQ(ExitCodeOf(first), 0);
    EXPECT_EQ(ExitCodeOf(second), 0);
    SqliteRegistry registry(store);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(ReadString(registry, KeyOf(i), "a" + std::to_string(i)), Sz(TextOf(i)));
        EXPECT_EQ(ReadString(registry, KeyOf(i), "b" + std::to_string(i)), Sz(TextOf(i)));
    }
    EXPECT_EQ(registry.CheckIntegrity(), "ok");
}

// A writer killed at any moment leaves a healthy store in which every value it
// finished writing is whole, and the one it was writing whole or absent.
TEST(RegistryFileTest, KilledWriterLeavesEveryCommittedValueWhole) {
    fakes::TempDir temp;
    const std::string store = temp.str("registry.db");
    { SqliteRegistry create(store); }
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const std::string prefix = "R" + std::to_string(round) + "V";
        const pid_t child = StartWriter(store, prefix, -1, pipeEnds[1]);
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
        ASSERT_EQ(ExitCodeOf(child), 100 + SIGKILL) << "the writer stopped by itself";

        SqliteRegistry registry(store);
        ASSERT_EQ(registry.StoreProblem(), "");
        ASSERT_EQ(registry.CheckIntegrity(), "ok") << "round " << round;
        for (int i = 0; i <= committed; ++i) {
            ASSERT_EQ(ReadString(registry, KeyOf(i), prefix + std::to_string(i)), Sz(TextOf(i)))
                << "round " << round << " value " << i;
        }
        const int last = committed + 1;
        const std::string text = ReadString(registry, KeyOf(last), prefix + std::to_string(last));
        EXPECT_TRUE(text == Sz(TextOf(last)) || text.empty()) << text.substr(0, 40);
    }
}

}  // namespace
}  // namespace orvel::platform
