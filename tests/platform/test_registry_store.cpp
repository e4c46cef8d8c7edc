// The registry store's Windows semantics, on a private in-memory store.

#include <gtest/gtest.h>

#include <iterator>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "RegistryTestSupport.h"
#include "platform/linux/SqliteRegistry.h"

namespace orvel::platform {
namespace {

using namespace std::string_literals;
using fakes::RawValue;

class RegistryStoreTest : public ::testing::Test {
  protected:
    SqliteRegistry registry{":memory:"};

    HKEY Create(HKEY root, std::string_view path) {
        HKEY key = 0;
        EXPECT_EQ(registry.RegCreateKeyA(root, path, &key), ERROR_SUCCESS) << path;
        return key;
    }
    void SetString(HKEY key, std::string_view name, const std::string& text) {
        EXPECT_EQ(registry.RegSetValueExA(key, name, REG_SZ,
                                          reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                          static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
    // Opened, queried and closed, as the console's helpers do; REG_NONE when missing.
    RawValue Read(HKEY root, std::string_view path, std::string_view name) {
        return fakes::Read(registry, root, path, name);
    }
    // The names of the sub-keys, or of the values, in enumeration order.
    std::vector<std::string> SubKeys(HKEY key, bool values = false) {
        std::vector<std::string> names;
        std::string name;
        for (DWORD i = 0; (values ? registry.RegEnumValueA(key, i, &name, nullptr, nullptr)
                                  : registry.RegEnumKeyExA(key, i, &name)) == ERROR_SUCCESS;
             ++i) {
            names.push_back(name);
        }
        return names;
    }
};

// Every kind of value comes back as its type and exactly the bytes written:
// a string's size counts its NUL, a string without one is not given one.
TEST_F(RegistryStoreTest, ValuesComeBackByteForByte) {
    const RawValue values[] = {{REG_SZ, "abc\0"s},
                               {REG_MULTI_SZ, "a\0bc\0\0"s},
                               {REG_SZ, "xy"},
                               {REG_EXPAND_SZ, "%ROOT%\\x\0"s},
                               {REG_DWORD, fakes::Dword(0x80000001u)},
                               {REG_BINARY, ""}};
    for (std::size_t i = 0; i < std::size(values); ++i) {
        const std::string name = "v" + std::to_string(i);
        fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen", name, values[i].type,
                    values[i].bytes);
        EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen", name), values[i]) << name;
    }
}

TEST_F(RegistryStoreTest, QueryReportsMissingValuesAndSizes) {
    const HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test");
    std::vector<std::uint8_t> bytes(1024);
    DWORD type = 99;
    DWORD size = 1024;
    EXPECT_EQ(registry.RegQueryValueExA(key, "", &type, bytes.data(), &size), ERROR_FILE_NOT_FOUND)
        << "an unset default value does not exist";
    EXPECT_EQ(registry.RegQueryValueExA(key, "nothing", &type, bytes.data(), &size),
              ERROR_FILE_NOT_FOUND);
    SetString(key, "", "default");
    EXPECT_EQ(registry.RegQueryValueExA(key, "", &type, bytes.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);

    // 1023 characters and the NUL fit a 1024-byte buffer; 1024 characters do not.
    SetString(key, "Fits", std::string(1023, 'f'));
    SetString(key, "TooLong", std::string(1024, 'g'));
    size = 1024;
    EXPECT_EQ(registry.RegQueryValueExA(key, "Fits", &type, bytes.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1024u);
    EXPECT_EQ(registry.RegQueryValueExA(key, "TooLong", &type, bytes.data(), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 1025u);
    EXPECT_EQ(type, REG_SZ);

    // No size: refused. (Every fakes::Read asks for the size alone first.)
    EXPECT_EQ(registry.RegQueryValueExA(key, "Fits", nullptr, bytes.data(), nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryStoreTest, NamesAreCaseBlindAndKeepTheirFirstSpelling) {
    fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\OrvelServers", "RunAs", REG_SZ,
                "first");
    fakes::Seed(registry, HKEY_LOCAL_MACHINE, "software\\QUARLEN\\orvelservers", "RUNAS", REG_SZ,
                "second");
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "Software\\Quarlen\\ORVELSERVERS", "runas").bytes, "second");
    const HKEY quarlen = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\quarlen");
    EXPECT_EQ(SubKeys(quarlen), std::vector<std::string>{"OrvelServers"});
    EXPECT_EQ(SubKeys(Create(quarlen, "orvelSERVERS"), true), std::vector<std::string>{"RunAs"});
}

// Keys and values come in creation order (not sorted); a rewritten value keeps
// its place. Stepping on, jumping to any index, a second handle and deleting
// while enumerating give the same names as counting from the first.
TEST_F(RegistryStoreTest, EnumerationFollowsCreationOrderWhateverTheSteps) {
    const HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many");
    std::vector<std::string> made;
    for (int i = 0; i < 20; ++i) {
        made.push_back((i % 2 ? "k" : "K") + std::to_string((i * 7) % 20));
        EXPECT_EQ(registry.RegCloseKey(Create(key, made.back())), ERROR_SUCCESS);
        SetString(key, made.back(), "v");
    }
    SetString(key, "k0", "rewritten");  // made[0] is "K0"
    EXPECT_EQ(SubKeys(key), made);
    EXPECT_EQ(SubKeys(key, true), made);
    std::string name;
    for (DWORD index : {7u, 3u, 4u, 19u, 0u, 12u}) {
        ASSERT_EQ(registry.RegEnumKeyExA(key, index, &name), ERROR_SUCCESS);
        EXPECT_EQ(name, made[index]);
        ASSERT_EQ(registry.RegEnumValueA(key, index, &name, nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(name, made[index]);
    }
    EXPECT_EQ(registry.RegEnumKeyExA(key, 20, &name), ERROR_NO_MORE_ITEMS);
    // Another handle on the same key keeps its own place.
    HKEY other = 0;
    ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many", 0, KEY_READ, &other), 0);
    ASSERT_EQ(registry.RegEnumKeyExA(key, 0, &name), ERROR_SUCCESS);
    ASSERT_EQ(registry.RegEnumKeyExA(other, 5, &name), ERROR_SUCCESS);
    ASSERT_EQ(registry.RegEnumKeyExA(key, 1, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, made[1]);
    while (registry.RegEnumKeyExA(key, 0, &name) == ERROR_SUCCESS) {
        ASSERT_EQ(registry.RegDeleteKeyA(key, name), ERROR_SUCCESS) << name;
    }
    EXPECT_FALSE(fakes::KeyExists(registry, key, made.back())) << "the loop stopped early";
}

// A batch keeps all its writes or none: a thrown one is undone (one answering
// an error is, in the orvel-reg tests' failed imports), a refused step inside
// one undoes only itself.
TEST_F(RegistryStoreTest, BatchKeepsAllOrNothing) {
    const HKEY kept = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept");
    SetString(kept, "v", "before");
    EXPECT_THROW(registry.RegApplyBatch([&]() -> LONG {
        Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Thrown");
        throw std::runtime_error("lost");
    }),
                 std::runtime_error);
    EXPECT_FALSE(fakes::KeyExists(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Thrown"));

    EXPECT_EQ(registry.RegApplyBatch([&] {
        SetString(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\Deep"), "a", "1");
        SetString(kept, "v", "inside");
        EXPECT_EQ(registry.RegDeleteValueA(kept, "v"), ERROR_SUCCESS);
        EXPECT_EQ(registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New"), ERROR_ACCESS_DENIED);
        return ERROR_SUCCESS;
    }),
              ERROR_SUCCESS);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\Deep", "a").bytes, "1\0"s);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v"), RawValue{});
}

// HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes. The hive root,
// SOFTWARE, Classes and its CLSID and AppID keys are never deleted, however
// they are named; the keys below them are.
TEST_F(RegistryStoreTest, ProtectedKeysAreNeverDeleted) {
    for (const char* path : {"CLSID", "AppID", "clsid\\{A}", "AppID\\{B}"}) {
        fakes::CreateKey(registry, HKEY_CLASSES_ROOT, path);
    }
    fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{A}\\LocalServer32", "",
                REG_SZ, "/opt/suite/server\0"s);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, "clsid\\{a}\\LocalServer32", "").bytes,
              "/opt/suite/server\0"s);
    EXPECT_EQ(SubKeys(HKEY_CLASSES_ROOT), (std::vector<std::string>{"CLSID", "AppID"}));
    const HKEY classes = Create(HKEY_LOCAL_MACHINE, "software\\CLASSES");
    const std::tuple<HKEY, const char*, LONG> cases[] = {
        {classes, "AppId", ERROR_ACCESS_DENIED},
        {HKEY_CLASSES_ROOT, "APPID\\", ERROR_ACCESS_DENIED},
        {HKEY_LOCAL_MACHINE, "Software\\Classes\\Clsid", ERROR_ACCESS_DENIED},
        {classes, "", ERROR_ACCESS_DENIED},
        {HKEY_LOCAL_MACHINE, "", ERROR_ACCESS_DENIED},
        {HKEY_CLASSES_ROOT, "CLSID\\{a}\\LocalServer32", ERROR_SUCCESS},
        {HKEY_CLASSES_ROOT, "CLSID\\{a}", ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\appid\\{b}\\", ERROR_SUCCESS},
    };
    for (const auto& [root, path, answer] : cases)
        EXPECT_EQ(registry.RegDeleteKeyA(root, path), answer) << path;
    EXPECT_TRUE(IsProtectedKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\classes\\"));
    EXPECT_TRUE(IsProtectedKey(HKEY_LOCAL_MACHINE, "software"));
    EXPECT_TRUE(IsProtectedKey(HKEY_CLASSES_ROOT, ""));
    EXPECT_FALSE(IsProtectedKey(HKEY_CLASSES_ROOT, "AppID\\{A}"));
    EXPECT_FALSE(IsProtectedKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen"));
}

TEST_F(RegistryStoreTest, OpenAndDeleteRules) {
    HKEY key = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    // The user's hive is empty and not writable.
    EXPECT_FALSE(fakes::KeyExists(registry, HKEY_CURRENT_USER, "Software"));
    EXPECT_EQ(registry.RegCreateKeyA(HKEY_CURRENT_USER, "Software", &key), ERROR_ACCESS_DENIED);
    const HKEY parent = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B\\C");
    SetString(parent, "v", "x");

    // An empty sub-key opens the key itself, as a handle of its own.
    HKEY same = 0;
    ASSERT_EQ(registry.RegOpenKeyExA(parent, "", 0, KEY_READ, &same), ERROR_SUCCESS);
    EXPECT_NE(same, parent);
    EXPECT_EQ(registry.RegQueryValueExA(same, "v", nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegSetValueExA(same, "w", REG_DWORD, nullptr, 0), ERROR_ACCESS_DENIED)
        << "a key opened for reading refuses writes";
    EXPECT_EQ(registry.RegDeleteValueA(same, "v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegCloseKey(same), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(same), ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry.RegQueryValueExA(same, "v", nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry.RegCloseKey(0x1234), ERROR_INVALID_HANDLE);

    // A trailing backslash is allowed; only a key without sub-keys is deleted.
    ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(registry.RegDeleteKeyA(key, "B"), ERROR_ACCESS_DENIED) << "B has a sub-key";
    EXPECT_EQ(registry.RegDeleteKeyA(key, "X"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegDeleteKeyA(key, "B\\C"), ERROR_SUCCESS) << "only C goes";
    EXPECT_EQ(registry.RegDeleteKeyA(key, "b\\c"), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(fakes::KeyExists(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B"));
    EXPECT_EQ(registry.RegQueryValueExA(parent, "v", nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND)
        << "the values went with their key";
    EXPECT_NE(registry.RegSetValueExA(parent, "v", REG_BINARY, nullptr, 0), ERROR_SUCCESS)
        << "a handle of a deleted key writes nothing";
    EXPECT_EQ(registry.RegDeleteValueA(key, "nothing"), ERROR_FILE_NOT_FOUND);

    // Recreating a deleted key gives a fresh, empty key.
    EXPECT_EQ(registry.RegQueryValueExA(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B\\C"), "v",
                                        nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
}

// Key names up to 255 characters, value names up to 16383, and no key deeper
// than 512 levels, whether named from a root or from a handle.
TEST_F(RegistryStoreTest, NameAndDepthLimits) {
    std::string path = "SOFTWARE";
    for (int level = 2; level <= 511; ++level) path += "\\k";
    const HKEY deep = Create(HKEY_LOCAL_MACHINE, path);
    Create(deep, "last");
    const std::pair<HKEY, std::string> refused[] = {{deep, "last\\beyond"},
                                                    {HKEY_LOCAL_MACHINE, path + "\\a\\b"},
                                                    {HKEY_CLASSES_ROOT, path.substr(9) + "\\a\\b"},
                                                    {HKEY_LOCAL_MACHINE, std::string(256, 'k')},
                                                    {HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Twice"}};
    HKEY key = 0;
    for (const auto& [root, refusedPath] : refused) {
        EXPECT_EQ(registry.RegCreateKeyA(root, refusedPath, &key), ERROR_INVALID_PARAMETER)
            << refusedPath.substr(0, 20);
    }

    key = Create(HKEY_LOCAL_MACHINE, std::string(255, 'k'));
    SetString(key, std::string(16383, 'n'), "long name");
    EXPECT_EQ(registry.RegSetValueExA(key, std::string(16384, 'n'), REG_SZ, nullptr, 0),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegQueryValueExA(key, std::string(16383, 'N'), nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
}

// RegDeleteTreeA takes a key with everything below it, and with an empty
// sub-key everything below a key but the key itself; never a protected key
// nor the content of one. The store and the by-names way answer alike.
TEST_F(RegistryStoreTest, TreeDeleteTakesAllBelowAndSparesProtectedKeys) {
    fakes::StoreView byNames(registry);
    for (Registry* view : {static_cast<Registry*>(&registry), static_cast<Registry*>(&byNames)}) {
        fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\App\\A\\B", "v", REG_SZ, "x\0"s);
        fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\App", "Top", REG_SZ, "t\0"s);
        const HKEY app = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\App");
        const HKEY below = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\App\\A\\B");
        EXPECT_EQ(view->RegDeleteTreeA(app, ""), ERROR_SUCCESS);
        EXPECT_TRUE(fakes::KeyExists(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\App"));
        EXPECT_TRUE(SubKeys(app).empty());
        EXPECT_TRUE(SubKeys(app, true).empty());
        EXPECT_NE(registry.RegSetValueExA(below, "w", REG_BINARY, nullptr, 0), ERROR_SUCCESS)
            << "a handle of a deleted key writes nothing";

        fakes::CreateKey(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\App\\A\\B");
        EXPECT_EQ(view->RegDeleteTreeA(HKEY_LOCAL_MACHINE, "software\\APP\\"), ERROR_SUCCESS);
        EXPECT_FALSE(fakes::KeyExists(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\App"));
        EXPECT_EQ(view->RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\App"), ERROR_FILE_NOT_FOUND);
        registry.RegCloseKey(app);
        registry.RegCloseKey(below);
    }

    fakes::CreateKey(registry, HKEY_CLASSES_ROOT, "CLSID\\{A}");
    fakes::CreateKey(registry, HKEY_CLASSES_ROOT, "AppID");
    const std::pair<HKEY, const char*> refused[] = {
        {HKEY_LOCAL_MACHINE, ""},
        {HKEY_LOCAL_MACHINE, "Software"},
        {HKEY_CLASSES_ROOT, ""},
        {HKEY_CLASSES_ROOT, "clsid\\"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\AppID"}};
    for (const auto& [root, path] : refused) {
        EXPECT_EQ(registry.RegDeleteTreeA(root, path), ERROR_ACCESS_DENIED) << path;
    }
    EXPECT_TRUE(fakes::KeyExists(registry, HKEY_CLASSES_ROOT, "CLSID\\{A}"));
    EXPECT_EQ(registry.RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{A}"), ERROR_SUCCESS);
}

// RegFindValueA answers one value by its name in any case, with the name as
// it was made, its type and bytes; the store and the by-names way alike.
TEST_F(RegistryStoreTest, FindValueAnswersTheNameAsMade) {
    const HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Q");
    SetString(key, "Install Dir", "/opt/q");
    SetString(key, "", "default");
    fakes::StoreView byNames(registry);
    for (Registry* view : {static_cast<Registry*>(&registry), static_cast<Registry*>(&byNames)}) {
        std::string name, data;
        DWORD type = 0;
        EXPECT_EQ(view->RegFindValueA(key, "INSTALL dir", &name, &type, &data), ERROR_SUCCESS);
        EXPECT_EQ(std::tie(name, type, data), std::make_tuple("Install Dir"s, REG_SZ, "/opt/q\0"s));
        EXPECT_EQ(view->RegFindValueA(key, "", &name, nullptr, &data), ERROR_SUCCESS);
        EXPECT_EQ(data, "default\0"s);
        EXPECT_EQ(view->RegFindValueA(key, "Install", &name, &type, &data), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(view->RegFindValueA(0x1234, "x", &name, &type, &data), ERROR_INVALID_HANDLE);
    }
}

}  // namespace
}  // namespace orvel::platform
