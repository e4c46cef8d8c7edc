#pragma once

// A throw-away installation for the network settings tests: a registry store
// file and a router system folder whose BIN folder is spelled "bin".

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "FakeDialogs.h"
#include "FakeSystemInfo.h"
#include "network/NetworkSettings.h"
#include "platform/IniProfileFile.h"
#include "platform/LinuxFileSystem.h"
#include "platform/SqliteRegistry.h"

namespace orvel::network::testing {

// A registry value as stored: its type and its bytes.
using Stored = std::pair<platform::DWORD, std::string>;

inline Stored DoubleWord(std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFFu);
    return {platform::REG_DWORD, bytes};
}
inline Stored String(const std::string& text) {
    return {platform::REG_SZ, text + std::string(1, '\0')};
}

class Installation : public ::testing::Test {
  protected:
    Installation() { std::filesystem::create_directories(corvanePath + "bin"); }
    ~Installation() override { std::filesystem::remove_all(root); }

    std::string IniFile() const { return corvanePath + "bin/CORVANE.INI"; }
    void WriteIni(const std::string& text) const {
        std::ofstream(IniFile(), std::ios::binary) << text;
    }
    std::string ReadIni() const {
        std::ostringstream text;
        text << std::ifstream(IniFile(), std::ios::binary).rdbuf();
        return text.str();
    }

    void Seed(const std::string& name, const Stored& value) {
        platform::HKEY key = 0;
        ASSERT_EQ(store.RegCreateKeyA(platform::HKEY_LOCAL_MACHINE, kNetworkKey, &key), 0);
        ASSERT_EQ(store.RegSetValueExA(key, name, value.first,
                                       reinterpret_cast<const std::uint8_t*>(value.second.data()),
                                       static_cast<platform::DWORD>(value.second.size())),
                  0);
        store.RegCloseKey(key);
    }

    // Every value of the network key, by name.
    std::map<std::string, Stored> Values() {
        std::map<std::string, Stored> values;
        platform::HKEY key = 0;
        if (store.RegOpenKeyExA(platform::HKEY_LOCAL_MACHINE, kNetworkKey, 0, platform::KEY_READ,
                                &key) != 0) {
            return values;
        }
        std::string name;
        Stored value;
        for (platform::DWORD i = 0;
             store.RegEnumValueA(key, i, &name, &value.first, &value.second) == 0; ++i) {
            values[name] = value;
        }
        store.RegCloseKey(key);
        return values;
    }

    static std::string MakeRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orvel-network-XXXXXX").string();
        return mkdtemp(pattern.data());
    }

    std::string root = MakeRoot();
    std::string corvanePath = root + "/Corvane/";
    platform::SqliteRegistry store{root + "/registry.db"};
    fakes::FakeDialogs dialogs;
    fakes::FakeSystemInfo systemInfo;  // this computer is 192.168.10.20
    platform::IniProfileFile profile;
    platform::LinuxFileSystem fileSystem;
    settings::RegistryContext registry{store, dialogs};
};

}  // namespace orvel::network::testing
