#pragma once

// A throw-away installation for the network settings tests: a registry store
// file and a router system folder, with helpers to seed and inspect both.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "FakeDialogs.h"
#include "FakeSystemInfo.h"
#include "network/NetworkSettings.h"
#include "platform/IniProfileFile.h"
#include "platform/LinuxFileSystem.h"
#include "platform/SqliteRegistry.h"

namespace orvel::network::testing {

using platform::DWORD;
using platform::HKEY;
using platform::LONG;

struct StoredValue {
    DWORD type = 0;
    std::string bytes;
    bool operator==(const StoredValue&) const = default;
};

inline std::string DoubleWordBytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
    }
    return bytes;
}

inline StoredValue DoubleWord(std::uint32_t value) {
    return {platform::REG_DWORD, DoubleWordBytes(value)};
}

inline StoredValue String(const std::string& text) {
    return {platform::REG_SZ, text + std::string(1, '\0')};
}

// A registry that refuses to set the named values, as a store would whose
// disk is full; everything else goes to the real store.
class RefusingRegistry : public platform::Registry {
  public:
    explicit RefusingRegistry(platform::Registry& inner) : inner_(inner) {}
    std::set<std::string> refused;

    LONG RegOpenKeyExA(HKEY key, std::string_view subKey, DWORD options, DWORD sam,
                       HKEY* result) override {
        return inner_.RegOpenKeyExA(key, subKey, options, sam, result);
    }
    LONG RegCreateKeyA(HKEY key, std::string_view subKey, HKEY* result) override {
        return inner_.RegCreateKeyA(key, subKey, result);
    }
    LONG RegQueryValueExA(HKEY key, std::string_view name, DWORD* type, std::uint8_t* data,
                          DWORD* size) override {
        return inner_.RegQueryValueExA(key, name, type, data, size);
    }
    LONG RegSetValueExA(HKEY key, std::string_view name, DWORD type, const std::uint8_t* data,
                        DWORD size) override {
        if (refused.count(std::string(name)) != 0) {
            return platform::ERROR_DISK_FULL;
        }
        return inner_.RegSetValueExA(key, name, type, data, size);
    }
    LONG RegDeleteValueA(HKEY key, std::string_view name) override {
        return inner_.RegDeleteValueA(key, name);
    }
    LONG RegDeleteKeyA(HKEY key, std::string_view subKey) override {
        return inner_.RegDeleteKeyA(key, subKey);
    }
    LONG RegCloseKey(HKEY key) override { return inner_.RegCloseKey(key); }
    LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) override {
        return inner_.RegEnumKeyExA(key, index, name);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, std::string* name, DWORD* type,
                       std::string* data) override {
        return inner_.RegEnumValueA(key, index, name, type, data);
    }
    std::string StoreProblem() const override { return inner_.StoreProblem(); }

  private:
    platform::Registry& inner_;
};

class Installation : public ::testing::Test {
  protected:
    Installation() { std::filesystem::create_directories(corvanePath + "bin"); }
    ~Installation() override { std::filesystem::remove_all(root); }

    // The INI file as the router system ships it: lower-case folder, upper-case name.
    std::string IniFile() const { return corvanePath + "bin/CORVANE.INI"; }

    void WriteIni(const std::string& text) const {
        std::ofstream(IniFile(), std::ios::binary) << text;
    }
    std::optional<std::string> ReadIni() const {
        std::ifstream in(IniFile(), std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    void Seed(const std::string& name, const StoredValue& value) {
        HKEY key = 0;
        ASSERT_EQ(store->RegCreateKeyA(platform::HKEY_LOCAL_MACHINE, kNetworkKey, &key), 0);
        ASSERT_EQ(store->RegSetValueExA(key, name, value.type,
                                        reinterpret_cast<const std::uint8_t*>(value.bytes.data()),
                                        static_cast<DWORD>(value.bytes.size())),
                  0);
        store->RegCloseKey(key);
    }

    // Every value of the network key, by name.
    std::map<std::string, StoredValue> Stored() {
        std::map<std::string, StoredValue> values;
        HKEY key = 0;
        if (store->RegOpenKeyExA(platform::HKEY_LOCAL_MACHINE, kNetworkKey, 0, platform::KEY_READ,
                                 &key) != 0) {
            return values;
        }
        for (DWORD index = 0;; ++index) {
            std::string name;
            StoredValue value;
            if (store->RegEnumValueA(key, index, &name, &value.type, &value.bytes) != 0) {
                break;
            }
            values[name] = value;
        }
        store->RegCloseKey(key);
        return values;
    }

    static std::string MakeRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orvel-network-XXXXXX").string();
        return mkdtemp(pattern.data());
    }

    std::string root = MakeRoot();
    std::string corvanePath = root + "/Corvane/";
    std::unique_ptr<platform::SqliteRegistry> store =
        std::make_unique<platform::SqliteRegistry>(root + "/registry.db");
    std::unique_ptr<RefusingRegistry> refusing = std::make_unique<RefusingRegistry>(*store);
    fakes::FakeDialogs dialogs;
    fakes::FakeSystemInfo systemInfo;  // this computer is 192.168.10.20
    platform::IniProfileFile profile;
    platform::LinuxFileSystem fileSystem;
    settings::RegistryContext registry{*refusing, dialogs};
};

}  // namespace orvel::network::testing
