// The registry store's Windows semantics, on a private in-memory store.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/SqliteRegistry.h"

namespace orvel::platform {
namespace {

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
    // Opens, queries and closes, as the console's helpers do.
    LONG Read(HKEY root, std::string_view path, std::string_view name, DWORD* type,
              std::vector<std::uint8_t>* bytes, DWORD bufferSize = 4096) {
        HKEY key = 0;
        LONG result = registry.RegOpenKeyExA(root, path, 0, KEY_READ, &key);
        if (result != ERROR_SUCCESS) return result;
        bytes->assign(bufferSize, 0xEE);
        DWORD size = bufferSize;
        result = registry.RegQueryValueExA(key, name, type, bytes->data(), &size);
        if (result == ERROR_SUCCESS) bytes->resize(size);
        EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
        return result;
    }
    std::vector<std::string> SubKeys(HKEY key) {
        std::vector<std::string> names;
        std::string name;
        for (DWORD index = 0; registry.RegEnumKeyExA(key, index, &name) == ERROR_SUCCESS; ++index)
            names.push_back(name);
        return names;
    }
};

TEST_F(RegistryStoreTest, StringSizesCountTheNulAndBytesComeBackExactly) {
    const HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane\\Path");
    SetString(key, "Root", "abc");
    const std::uint8_t multi[] = {'a', 0, 'b', 'c', 0, 0};
    ASSERT_EQ(registry.RegSetValueExA(key, "Multi", REG_MULTI_SZ, multi, 6), ERROR_SUCCESS);
    const std::uint8_t noNul[] = {'x', 'y'};
    ASSERT_EQ(registry.RegSetValueExA(key, "Bare", REG_SZ, noNul, 2), ERROR_SUCCESS);
    ASSERT_EQ(registry.RegSetValueExA(key, "Empty", REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);

    DWORD type = 0;
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane\\Path", "Root", &type, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{'a', 'b', 'c', 0}));
    ASSERT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane\\Path", "Multi", &type, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{'a', 0, 'b', 'c', 0, 0}));
    ASSERT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane\\Path", "Bare", &type, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{'x', 'y'}));
    ASSERT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane\\Path", "Empty", &type, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_TRUE(bytes.empty());
}

TEST_F(RegistryStoreTest, QueryReportsMissingValuesAndSizes) {
    const HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test");
    DWORD type = 99;
    DWORD size = 10;
    std::uint8_t buffer[10] = {};
    EXPECT_EQ(registry.RegQueryValueExA(key, "", &type, buffer, &size), ERROR_FILE_NOT_FOUND)
        << "an unset default value does not exist";
    EXPECT_EQ(registry.RegQueryValueExA(key, "nothing", &type, buffer, &size),
              ERROR_FILE_NOT_FOUND);

    // 1023 characters and the NUL fit a 1024-byte buffer; 1024 characters do not.
    SetString(key, "Fits", std::string(1023, 'f'));
    SetString(key, "TooLong", std::string(1024, 'g'));
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Fits", &type, &bytes, 1024),
              ERROR_SUCCESS);
    EXPECT_EQ(bytes.size(), 1024u);
    size = 1024;
    bytes.assign(1024, 0);
    EXPECT_EQ(registry.RegQueryValueExA(key, "TooLong", &type, bytes.data(), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 1025u);
    EXPECT_EQ(type, REG_SZ);

    // No buffer: the size alone.
    size = 0;
    EXPECT_EQ(registry.RegQueryValueExA(key, "TooLong", nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1025u);
    EXPECT_EQ(registry.RegQueryValueExA(key, "Fits", nullptr, bytes.data(), nullptr),
              ERROR_INVALID_PARAMETER);

    // The default value once set.
    SetString(key, "", "default");
    size = 10;
    EXPECT_EQ(registry.RegQueryValueExA(key, "", &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryStoreTest, NamesAreCaseBlindAndKeepTheirFirstSpelling) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\OrvelServers");
    SetString(key, "RunAs", "first");
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);

    key = Create(HKEY_LOCAL_MACHINE, "software\\QUARLEN\\orvelservers");
    SetString(key, "RUNAS", "second");
    DWORD type = 0;
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(Read(HKEY_LOCAL_MACHINE, "Software\\Quarlen\\ORVELSERVERS", "runas", &type, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("second", 7));

    std::string name;
    std::string data;
    ASSERT_EQ(registry.RegEnumValueA(key, 0, &name, &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(name, "RunAs");
    EXPECT_EQ(registry.RegEnumValueA(key, 1, &name, &type, &data), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);

    HKEY quarlen = 0;
    ASSERT_EQ(
        registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\quarlen", 0, KEY_READ, &quarlen),
        ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(quarlen), std::vector<std::string>{"OrvelServers"});
    EXPECT_EQ(registry.RegCloseKey(quarlen), ERROR_SUCCESS);
}

TEST_F(RegistryStoreTest, EnumerationFollowsCreationOrder) {
    const HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order");
    for (const char* name : {"zeta", "Alpha", "mid"}) {
        HKEY child = Create(key, name);
        EXPECT_EQ(registry.RegCloseKey(child), ERROR_SUCCESS);
        SetString(key, name, name);
    }
    SetString(key, "ALPHA", "rewritten");  // keeps its place
    EXPECT_EQ(SubKeys(key), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
    std::vector<std::string> values;
    std::string name;
    for (DWORD index = 0; registry.RegEnumValueA(key, index, &name, nullptr, nullptr) == 0; ++index)
        values.push_back(name);
    EXPECT_EQ(values, (std::vector<std::string>{"zeta", "Alpha", "mid"}));
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
}

// Stepping on from the last answer, jumping to any index and deleting while
// enumerating give the same names as counting from the first.
TEST_F(RegistryStoreTest, EnumerationStepsJumpsAndSurvivesDeletes) {
    const HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many");
    std::vector<std::string> made;
    for (int i = 0; i < 20; ++i) {
        made.push_back("k" + std::to_string(i));
        EXPECT_EQ(registry.RegCloseKey(Create(key, made.back())), ERROR_SUCCESS);
        SetString(key, made.back(), "v");
    }
    EXPECT_EQ(SubKeys(key), made);
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
    EXPECT_EQ(name, "k1");
    // Deleting index 0 until none is left empties the key.
    int deleted = 0;
    while (registry.RegEnumKeyExA(key, 0, &name) == ERROR_SUCCESS) {
        ASSERT_EQ(registry.RegDeleteKeyA(key, name), ERROR_SUCCESS) << name;
        ++deleted;
    }
    EXPECT_EQ(deleted, 20);
    EXPECT_EQ(registry.RegCloseKey(other), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
}

// A batch keeps all its writes or none; the store answers as before after an undone one.
TEST_F(RegistryStoreTest, BatchKeepsAllOrNothing) {
    const HKEY kept = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept");
    SetString(kept, "v", "before");
    auto writeAll = [&](LONG answer) {
        return registry.RegApplyBatch([&] {
            HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\Deep");
            SetString(key, "a", "1");
            EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
            SetString(kept, "v", "inside");
            EXPECT_EQ(registry.RegDeleteValueA(kept, "v"), ERROR_SUCCESS);
            // A refused step inside the batch undoes only itself.
            EXPECT_EQ(registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New"),
                      ERROR_ACCESS_DENIED);
            return answer;
        });
    };
    EXPECT_EQ(writeAll(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND);
    std::vector<std::uint8_t> bytes;
    DWORD type = 0;
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v", &type, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("before\0", 7));
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\Deep", "a", &type, &bytes),
              ERROR_FILE_NOT_FOUND);
    EXPECT_THROW(registry.RegApplyBatch([&]() -> LONG {
        Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Thrown");
        throw std::runtime_error("lost");
    }),
                 std::runtime_error);
    HKEY key = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Thrown", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(writeAll(ERROR_SUCCESS), ERROR_SUCCESS);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\Deep", "a", &type, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v", &type, &bytes), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegCloseKey(kept), ERROR_SUCCESS);
}

// The hive root, SOFTWARE, Classes and its CLSID and AppID keys are never deleted,
// however they are named; the keys below them are.
TEST_F(RegistryStoreTest, ProtectedKeysAreNeverDeleted) {
    EXPECT_EQ(registry.RegCloseKey(Create(HKEY_CLASSES_ROOT, "CLSID")), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(Create(HKEY_CLASSES_ROOT, "AppID")), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(Create(HKEY_CLASSES_ROOT, "clsid\\{A}")), ERROR_SUCCESS);
    HKEY classes = 0;
    ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\CLASSES", 0, KEY_ALL_ACCESS,
                                     &classes),
              ERROR_SUCCESS);
    EXPECT_EQ(registry.RegDeleteKeyA(classes, "AppId"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, "APPID\\"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{a}"), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes\\Clsid"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegDeleteKeyA(classes, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegCloseKey(classes), ERROR_SUCCESS);
    EXPECT_TRUE(IsProtectedKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\classes\\"));
    EXPECT_TRUE(IsProtectedKey(HKEY_CLASSES_ROOT, ""));
    EXPECT_TRUE(IsProtectedKey(HKEY_CLASSES_ROOT, "appid"));
    EXPECT_FALSE(IsProtectedKey(HKEY_CLASSES_ROOT, "AppID\\{A}"));
    EXPECT_FALSE(IsProtectedKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen"));
}

// No key is made deeper than 512 levels, whether named from a root or a handle.
TEST_F(RegistryStoreTest, KeysStopAt512Levels) {
    std::string path = "SOFTWARE";
    for (int level = 2; level <= 511; ++level) path += "\\k";
    const HKEY deep = Create(HKEY_LOCAL_MACHINE, path);
    HKEY key = 0;
    EXPECT_EQ(registry.RegCreateKeyA(deep, "last", &key), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCreateKeyA(deep, "last\\beyond", &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, path + "\\a\\b", &key),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegCreateKeyA(HKEY_CLASSES_ROOT, path.substr(9) + "\\a\\b", &key),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegCloseKey(deep), ERROR_SUCCESS);
}

TEST_F(RegistryStoreTest, ClassesRootIsTheMachineClassesKey) {
    HKEY key = Create(HKEY_CLASSES_ROOT, "AppID\\{6A1D0C2E-0000-0000-0000-000000000001}");
    SetString(key, "RunAs", "Interactive User");
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);

    DWORD type = 0;
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(
        Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\AppID\\{6a1d0c2e-0000-0000-0000-000000000001}",
             "RunAs", &type, &bytes),
        ERROR_SUCCESS);
    EXPECT_EQ(bytes.size(), 17u);

    key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{X}\\LocalServer32");
    SetString(key, "", "/opt/suite/server");
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, "clsid\\{x}\\LocalServer32", "", &type, &bytes),
              ERROR_SUCCESS);

    std::vector<std::string> top;
    std::string name;
    for (DWORD index = 0; registry.RegEnumKeyExA(HKEY_CLASSES_ROOT, index, &name) == 0; ++index)
        top.push_back(name);
    EXPECT_EQ(top, (std::vector<std::string>{"AppID", "CLSID"}));

    // The user's hive is empty and not writable.
    HKEY user = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &user),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegCreateKeyA(HKEY_CURRENT_USER, "Software", &user), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryStoreTest, OpenAndDeleteRules) {
    HKEY key = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    const HKEY parent = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B\\C");
    SetString(parent, "v", "x");

    // An empty sub-key opens the key itself; a trailing backslash is allowed.
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
    ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);

    EXPECT_EQ(registry.RegDeleteKeyA(key, "B"), ERROR_ACCESS_DENIED) << "B has a sub-key";
    EXPECT_EQ(registry.RegDeleteKeyA(key, "X"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegDeleteKeyA(key, "B\\C"), ERROR_SUCCESS) << "only C goes";
    EXPECT_EQ(registry.RegDeleteKeyA(key, "b\\c"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegQueryValueExA(parent, "v", nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND)
        << "the values went with their key";
    EXPECT_NE(registry.RegSetValueExA(parent, "v", REG_BINARY, nullptr, 0), ERROR_SUCCESS)
        << "a handle of a deleted key writes nothing";
    HKEY again = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B", 0, KEY_READ, &again),
              ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegDeleteValueA(key, "nothing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);

    // Recreating a deleted key gives a fresh, empty key.
    const HKEY recreated = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B\\C");
    EXPECT_EQ(registry.RegQueryValueExA(recreated, "v", nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    for (HKEY handle : {recreated, parent, key}) EXPECT_EQ(registry.RegCloseKey(handle), 0);
}

TEST_F(RegistryStoreTest, NameLimits) {
    HKEY key = 0;
    EXPECT_EQ(registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, std::string(256, 'k'), &key),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Twice", &key),
              ERROR_INVALID_PARAMETER);
    key = Create(HKEY_LOCAL_MACHINE, std::string(255, 'k'));
    SetString(key, std::string(16383, 'n'), "long name");
    EXPECT_EQ(registry.RegSetValueExA(key, std::string(16384, 'n'), REG_SZ, nullptr, 0),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegQueryValueExA(key, std::string(16383, 'N'), nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(0x1234), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace orvel::platform
