#pragma once

// A throw-away installation for the network settings tests: a registry store
// file and a router system folder whose BIN folder is spelled "bin".

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "FakeSystemInfo.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "network/NetworkSettings.h"
#include "platform/IniProfileFile.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/SqliteRegistry.h"

namespace orvel::network::testing {

// A registry value as stored: its type and its bytes.
using Stored = fakes::RawValue;

inline Stored DoubleWord(std::uint32_t value) {
    return {platform::REG_DWORD, fakes::Dword(value)};
}
inline Stored String(const std::string& text) {
    return {platform::REG_SZ, fakes::Sz(text)};
}

class Installation : public ::testing::Test {
  protected:
    Installation() { std::filesystem::create_directories(corvanePath + "bin"); }

    std::string IniFile() const { return corvanePath + "bin/CORVANE.INI"; }
    void WriteIni(const std::string& text) const { fakes::WriteFile(IniFile(), text); }
    std::string ReadIni() const { return fakes::ReadFile(IniFile()); }

    void Seed(const std::string& name, const Stored& value) {
        fakes::Seed(store, platform::HKEY_LOCAL_MACHINE, kNetworkKey, name, value.type,
                    value.bytes);
    }

    // Every value of the network key, by name.
    std::map<std::string, Stored> Values() {
        fakes::Snapshot all;
        fakes::SnapshotKey(store, kNetworkKey, all);
        std::map<std::string, Stored> values;
        for (const auto& [path, value] : all) {
            if (!path.ends_with('\\'))
                values[path.substr(std::string(kNetworkKey).size() + 1)] = value;
        }
        return values;
    }

    fakes::TempDir temp{"orvel-network"};
    std::string root = temp.str();
    std::string corvanePath = root + "/Corvane/";
    platform::SqliteRegistry store{root + "/registry.db"};
    fakes::FakeDialogs dialogs;
    fakes::FakeSystemInfo systemInfo;  // this computer is 192.168.10.20
    platform::IniProfileFile profile;
    platform::LinuxFileSystem fileSystem;
    settings::RegistryContext registry{store, dialogs};
};

}  // namespace orvel::network::testing
