#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "FakeFileSystem.h"
#include "RegistryTestSupport.h"
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

// The load with AutoStart off (check, then uncheck) by a user who may not write
// the machine's values: a machine without a Run entry is left untouched and
// shows no box; a stale entry is still removed where removing is allowed.
TEST_F(AutostartTest, LoadWithAutoStartOffTouchesOnlyAnEntryThatIsThere) {
    fakes::ReadOnlyStore readOnly(registry);
    RegistryContext operatorContext{readOnly, dialogs};
    SetAutoStart(operatorContext, files, settings, true, AutoStartToggle::AtLoad);
    SetAutoStart(operatorContext, files, settings, false, AutoStartToggle::AtLoad);
    EXPECT_FALSE(settings.AutoStart);
    EXPECT_TRUE(dialogs.boxes.empty());

    SetAutoStart(context, files, settings, true);  // left by another copy
    settings.AutoStart = false;
    SetAutoStart(context, files, settings, true, AutoStartToggle::AtLoad);
    SetAutoStart(context, files, settings, false, AutoStartToggle::AtLoad);
    EXPECT_TRUE(RunValues().empty());
}

// With AutoStart on, an entry that already names this copy is not written
// again (no box for an operator); one naming a moved copy is, and a user
// without rights is told so while the setting still follows the menu entry.
TEST_F(AutostartTest, RunEntryIsWrittenOnlyWhenItDiffers) {
    files.executableFolder = "/opt/Quarlen/Console";
    SetAutoStart(context, files, settings, true);
    fakes::ReadOnlyStore readOnly(registry);
    RegistryContext operatorContext{readOnly, dialogs};
    settings.AutoStart = true;
    SetAutoStart(operatorContext, files, settings, true, AutoStartToggle::AtLoad);
    SetAutoStart(operatorContext, files, settings, true);
    EXPECT_TRUE(dialogs.boxes.empty());

    files.executableFolder = "/opt/orvel/console";
    dialogs.ExpectBox("Registry Access");
    SetAutoStart(operatorContext, files, settings, true, AutoStartToggle::AtLoad);
    EXPECT_TRUE(settings.AutoStart);
    EXPECT_EQ(RunValues(),
              std::vector<std::string>{"Orvel_Console=\"/opt/Quarlen/Console/Orvel_Console\""});
}

}  // namespace
}  // namespace orvel::settings
