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

    // The console's Run entry: its text, or "" when there is none.
    std::string RunEntry() {
        const fakes::RawValue value =
            fakes::Read(registry, platform::HKEY_LOCAL_MACHINE, kRunKey, "Orvel_Console");
        EXPECT_TRUE(value.type == platform::REG_SZ || value.type == platform::REG_NONE);
        return std::string(value.bytes.c_str());
    }

    platform::SqliteRegistry registry{":memory:"};
    fakes::FakeDialogs dialogs;
    RegistryContext context{registry, dialogs};
    // A user who may not write the machine's values.
    fakes::ReadOnlyStore readOnly{registry};
    RegistryContext operatorContext{readOnly, dialogs};
    fakes::FakeFileSystem files;
    ConsoleSettings settings;
};

TEST_F(AutostartTest, OnOffAndReRegistrationFromAnotherFolder) {
    files.executableFolder = "/opt/Quarlen/Console";
    SetAutoStart(context, files, settings, true);
    EXPECT_TRUE(settings.AutoStart);
    EXPECT_EQ(RunEntry(), "\"/opt/Quarlen/Console/Orvel_Console\"");

    SetAutoStart(context, files, settings, false);
    EXPECT_FALSE(settings.AutoStart);
    EXPECT_EQ(RunEntry(), "");
    SetAutoStart(context, files, settings, false);  // removing a missing value is harmless
    EXPECT_EQ(RunEntry(), "");

    // The copy was moved to a folder with a blank: the entry names the new place.
    SetAutoStart(context, files, settings, true);
    files.executableFolder = "/home/op/Orvel Console";
    SetAutoStart(context, files, settings, true);
    EXPECT_EQ(RunEntry(), "\"/home/op/Orvel Console/Orvel_Console\"");
}

// The load with AutoStart off (check, then uncheck) by a user who may not write
// the machine's values: a machine without a Run entry is left untouched and
// shows no box; a stale entry is still removed where removing is allowed.
TEST_F(AutostartTest, LoadWithAutoStartOffTouchesOnlyAnEntryThatIsThere) {
    SetAutoStart(operatorContext, files, settings, true, AutoStartToggle::AtLoad);
    SetAutoStart(operatorContext, files, settings, false, AutoStartToggle::AtLoad);
    EXPECT_FALSE(settings.AutoStart);
    EXPECT_TRUE(dialogs.boxes.empty());

    SetAutoStart(context, files, settings, true);  // left by another copy
    settings.AutoStart = false;
    SetAutoStart(context, files, settings, true, AutoStartToggle::AtLoad);
    SetAutoStart(context, files, settings, false, AutoStartToggle::AtLoad);
    EXPECT_EQ(RunEntry(), "");
}

// With AutoStart on, an entry that already names this copy is not written
// again (no box for an operator); one naming a moved copy is, and a user
// without rights is told so while the setting still follows the menu entry.
TEST_F(AutostartTest, RunEntryIsWrittenOnlyWhenItDiffers) {
    files.executableFolder = "/opt/Quarlen/Console";
    SetAutoStart(context, files, settings, true);
    settings.AutoStart = true;
    SetAutoStart(operatorContext, files, settings, true, AutoStartToggle::AtLoad);
    SetAutoStart(operatorContext, files, settings, true);
    EXPECT_TRUE(dialogs.boxes.empty());

    files.executableFolder = "/opt/orvel/console";
    dialogs.ExpectBox("Registry Access");
    SetAutoStart(operatorContext, files, settings, true, AutoStartToggle::AtLoad);
    EXPECT_TRUE(settings.AutoStart);
    EXPECT_EQ(RunEntry(), "\"/opt/Quarlen/Console/Orvel_Console\"");
}

}  // namespace
}  // namespace orvel::settings
