#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "FakeFileSystem.h"
#include "platform/linux/SqliteRegistry.h"
#include "settings/Autostart.h"

namespace orvel::settings {
namespace {

class AutostartTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_TRUE(dialogs.ScriptDone()); }

    // Every value of the Run key, as name=text.
    std::vector<std::string> RunValues() {
        std::vector<std::string> values;
        platform::HKEY key = 0;
        if (registry.RegOpenKeyExA(platform::HKEY_LOCAL_MACHINE, kRunKey, 0, platform::KEY_READ,
                                   &key) != 0) {
            return values;
        }
        std::string name, data;
        platform::DWORD type = 0;
        for (platform::DWORD i = 0; registry.RegEnumValueA(key, i, &name, &type, &data) == 0; ++i) {
            EXPECT_EQ(type, platform::REG_SZ);
            values.push_back(name + "=" + std::string(data.c_str()));
        }
        registry.RegCloseKey(key);
        return values;
    }

    platform::SqliteRegistry registry{":memory:"};
    fakes::FakeDialogs dialogs;
    RegistryContext context{registry, dialogs};
    fakes::FakeFileSystem files;
    ConsoleSettings settings;
};

TEST_F(AutostartTest, OnOffAndReRegistrationFromAnotherFolder) {
    files.executableFolder = "/opt/Quarlen/Console";
    SetAutoStart(context, files, settings, true);
    EXPECT_TRUE(settings.AutoStart);
    EXPECT_EQ(RunValues(),
              std::vector<std::string>{"Orvel_Console=\"/opt/Quarlen/Console/Orvel_Console\""});

    SetAutoStart(context, files, settings, false);
    EXPECT_FALSE(settings.AutoStart);
    EXPECT_TRUE(RunValues().empty());
    SetAutoStart(context, files, settings, false);  // removing a missing value is harmless
    EXPECT_TRUE(RunValues().empty());

    // The copy was moved to a folder with a blank: the entry names the new place.
    SetAutoStart(context, files, settings, true);
    files.executableFolder = "/home/op/Orvel Console";
    SetAutoStart(context, files, settings, true);
    EXPECT_EQ(RunValues(),
              std::vector<std::string>{"Orvel_Console=\"/home/op/Orvel Console/Orvel_Console\""});

    // The load's double toggle with AutoStart off leaves no entry behind.
    SetAutoStart(context, files, settings, true);
    SetAutoStart(context, files, settings, false);
    EXPECT_TRUE(RunValues().empty());
}

}  // namespace
}  // namespace orvel::settings
