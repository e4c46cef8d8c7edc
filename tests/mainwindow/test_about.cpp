#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "FakeDialogs.h"
#include "FakeFileSystem.h"
#include "FakeProgramStarter.h"
#include "RegistryTestSupport.h"
#include "mainwindow/frmAbout.h"
#include "platform/linux/SqliteRegistry.h"

namespace orvel::mainwindow {
namespace {

void PutText(platform::Registry& registry, const char* key, const char* name,
             const std::string& text) {
    fakes::Seed(registry, platform::HKEY_LOCAL_MACHINE, key, name, platform::REG_SZ,
                fakes::Sz(text));
}

// The release text of the marker, here and in the main window's caption.
TEST(AboutBox, CaptionsAndTheReleaseTextOfTheMarker) {
    const auto version = platform::ProgramVersionInfo();
    platform::SqliteRegistry registry(":memory:");
    fakes::FakeFileSystem files;
    fakes::FakeProgramStarter programs;
    fakes::FakeDialogs dialogs;
    frmAbout about(version, {registry, files, programs, dialogs, version.title}, QIcon());
    EXPECT_EQ(about.windowTitle(), "About Orvel Console");
    EXPECT_EQ(about.lblTitle->text(), "Corvane Network Suite -- Orvel Console");
    EXPECT_EQ(about.lblVersion->text(), "Version  Release 7.1.0") << "the blank after ':' stays";
    EXPECT_TRUE(about.txtDescription->isHidden());
    EXPECT_EQ(ReleaseOfMarker("Release 8"), "Release 8") << "no ':' gives the whole marker";
    EXPECT_EQ(ReleaseOfMarker("A: B: C"), " B: C");
}

TEST(AboutBox, SystemInformationBranches) {
    struct Case {
        const char* what;
        const char* path;      // the first key's value, or none
        const char* location;  // the second key's value, or none
        const char* existing;  // the one file that exists ("" none)
        bool startFails;
        const char* started;  // nullptr: the unavailable box
    };
    const Case cases[] = {
        {"first key wins, started unchecked", "/usr/bin/hardinfo", "/opt/msinfo",
         "/opt/msinfo/MSINFO32.EXE", false, "/usr/bin/hardinfo"},
        {"second key with its program", nullptr, "/opt/msinfo", "/opt/msinfo/MSINFO32.EXE", false,
         "/opt/msinfo/MSINFO32.EXE"},
        {"second key, no program there", nullptr, "/opt/msinfo", "", false, nullptr},
        {"neither key", nullptr, nullptr, "", false, nullptr},
        {"program cannot start", "/usr/bin/gone", nullptr, "", true, nullptr},
    };
    const auto version = platform::ProgramVersionInfo();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::SqliteRegistry store(":memory:");
        if (c.path) PutText(store, kSysInfoKey, kSysInfoValue, c.path);
        if (c.location) PutText(store, kSysInfoLocationKey, kSysInfoLocationValue, c.location);
        fakes::ReadOnlyStore readOnly(store);
        fakes::FakeFileSystem files;
        files.files.insert(c.existing);
        fakes::FakeProgramStarter programs;
        if (c.startFails) programs.FailNext("No such file or directory");
        fakes::FakeDialogs dialogs;
        if (!c.started) dialogs.ExpectBox("Orvel Console");
        frmAbout about(version, {readOnly, files, programs, dialogs, version.title}, QIcon());
        about.cmdSysInfo->click();
        if (c.started) {
            ASSERT_EQ(programs.starts.size(), 1u);
            EXPECT_EQ(programs.starts[0].programPath, c.started);
            EXPECT_EQ(programs.starts[0].windowStyle, 1);
        } else {
            EXPECT_EQ(dialogs.boxes.at(0).text, "System Information Is Unavailable At This Time");
            EXPECT_EQ(dialogs.boxes.at(0).style, 0);
        }
    }
}

}  // namespace
}  // namespace orvel::mainwindow
