// orvel-reg against stores that other programs left in shapes the registry
// itself never makes, and against backups of any size: every export imports
// again, and a delete ends.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "OrvelRegRun.h"
#include "RawSql.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "platform/linux/SqliteRegistry.h"
#include "tools/orvelreg/RegText.h"
#include "tools/orvelreg/RegTool.h"

namespace orvel::tools {
namespace {

using namespace platform;
namespace fs = std::filesystem;

using fakes::RawSql;

// A store holding SOFTWARE\Odd with a value and a sub-key without a name
// (which has a sub-key and a value of its own), and SOFTWARE\Deep with a chain
// of 520 keys below it, 522 levels deep at its end.
void MakeOddStore(const fs::path& store) {
    {
        SqliteRegistry registry(store.string());
        fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Odd", "kept", REG_SZ, fakes::Sz("x"));
        fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Deep", "kept", REG_SZ, fakes::Sz("y"));
    }
    RawSql(store,
           "INSERT INTO keys(parent, name) SELECT id, '' FROM keys WHERE name='Odd';"
           "INSERT INTO keys(parent, name) SELECT id, 'below' FROM keys WHERE name='';"
           "INSERT INTO key_values(key, name, type, data) SELECT id, 'w', 1, x'00' FROM keys"
           " WHERE name='below';");
    std::string chain =
        "CREATE TEMP TABLE chain(id INTEGER);"
        "INSERT INTO chain SELECT id FROM keys WHERE name='Deep';";
    for (int level = 1; level <= 520; ++level) {
        chain += "INSERT INTO keys(parent, name) SELECT max(id), 'L" + std::to_string(level) +
                 "' FROM chain; INSERT INTO chain VALUES(last_insert_rowid());";
    }
    RawSql(store, chain);
}

// delete /f in a process of its own, which a minute's alarm ends (it ran for
// ever on a sub-key without a name): the exit status, or -1 when it was ended.
int DeleteInChild(const fs::path& store, const std::string& key) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(60);
        SqliteRegistry registry(store.string());
        ::_exit(Tool(registry, {"delete", key, "/f"}).status);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OrvelRegStore, DeleteRemovesKeysWithoutANameAndChainsOfAnyDepth) {
    fakes::TempDir temp;
    const fs::path store = temp.path() / "registry.db";
    MakeOddStore(store);
    EXPECT_EQ(DeleteInChild(store, "HKLM\\SOFTWARE\\Odd"), 0);
    EXPECT_EQ(DeleteInChild(store, "HKLM\\SOFTWARE\\Deep"), 0);
    SqliteRegistry registry(store.string());
    for (const char* key : {"SOFTWARE\\Odd", "SOFTWARE\\Deep"}) {
        EXPECT_FALSE(fakes::KeyExists(registry, HKEY_LOCAL_MACHINE, key)) << key;
    }
    EXPECT_EQ(registry.CheckIntegrity(), "ok");
}

// What export writes imports again: the keys no .reg file can carry are left
// out with a warning naming them, everything else comes back exactly.
TEST(OrvelRegStore, ExportOfAStoreWithUnnameableKeysImportsAgain) {
    fakes::TempDir temp;
    const fs::path store = temp.path() / "registry.db";
    MakeOddStore(store);
    SqliteRegistry registry(store.string(), StoreAccess::ReadOnly);
    const fs::path file = temp.path() / "backup.reg";
    const Outcome exported = Tool(registry, {"export", "HKLM", file.string()});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.err.find("WARNING: HKEY_LOCAL_MACHINE\\SOFTWARE\\Odd\\ and its sub-keys"),
              std::string::npos)
        << exported.err;
    std::string deepest = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Deep";
    for (int level = 1; level <= 511; ++level) deepest += "\\L" + std::to_string(level);
    EXPECT_NE(exported.err.find("WARNING: " + deepest + " and"), std::string::npos);
    EXPECT_NE(fakes::ReadFile(file).find(deepest.substr(0, deepest.rfind('\\')) + "]"),
              std::string::npos)
        << "the chain is kept down to the deepest level the registry allows";

    SqliteRegistry restored((temp.path() / "restored.db").string());
    const Outcome imported = Tool(restored, {"import", file.string()});
    ASSERT_EQ(imported.status, 0) << imported.err;
    const Outcome again = Tool(restored, {"export", "HKLM", "-"});
    EXPECT_EQ(again.out, fakes::ReadFile(file));
    EXPECT_EQ(again.err, "");
}

// A .reg file is read whatever its size (an export has no bound either);
// only what may never end, a pipe or a device, is read up to a bound.
TEST(OrvelRegStore, ImportReadsAFileOfAnySize) {
    fakes::TempDir temp;
    const fs::path file = temp.path() / "large.reg";
    fakes::WriteFile(file, "Windows Registry Editor Version 5.00\n");
    fs::resize_file(file, kMaxImportBytes + 4096);
    std::string text, error;
    EXPECT_TRUE(ReadImportFile(file.string(), &text, &error)) << error;
    EXPECT_EQ(text.size(), kMaxImportBytes + 4096);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);

    text.clear();
    EXPECT_FALSE(ReadImportFile("/dev/zero", &text, &error));
    EXPECT_NE(error.find("more than 64 MB"), std::string::npos) << error;
}

// query /v finds one value by its name in any case and shows the name as it
// was made, through the store's index or through a registry that enumerates.
TEST(OrvelRegStore, QueryOfOneValueFindsItInAnyCase) {
    SqliteRegistry registry(":memory:");
    fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Q", "Install Dir", REG_SZ,
                fakes::Sz("/opt/q"));
    fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Q", "Other", REG_DWORD, fakes::Dword(1));
    fakes::StoreView byNames(registry);
    for (Registry* view : {static_cast<Registry*>(&registry), static_cast<Registry*>(&byNames)}) {
        const Outcome found = Tool(*view, {"query", "HKLM\\SOFTWARE\\Q", "/v", "INSTALL dir"});
        EXPECT_EQ(found.status, 0);
        EXPECT_EQ(found.out,
                  "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q\n    Install Dir    REG_SZ    /opt/q\n");
        const Outcome missing = Tool(*view, {"query", "HKLM\\SOFTWARE\\Q", "/v", "Install"});
        EXPECT_EQ(missing.status, 1);
        EXPECT_NE(missing.err.find("value \"Install\""), std::string::npos) << missing.err;
    }
}

}  // namespace
}  // namespace orvel::tools
