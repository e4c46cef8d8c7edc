#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "FakeDialogs.h"
#include "FakeProgramStarter.h"
#include "RegistryTestSupport.h"
#include "mainwindow/frmAbout.h"
#include "platform/linux/SqliteRegistry.h"

namespace orvel::mainwindow {
namespace {

class SomeFiles : public platform::FileSystem {
  public:
    std::string existing;
    bool FileExists(const std::string& path) override { return path == existing; }
    std::optional<std::string> ResolvePath(const std::string&) override { return std::nullopt; }
    std::string ExecutableFolder() override { return "/opt/console"; }
    std::string ExecutableName() override { return "Orvel_Console"; }
    bool ChangeDirectory(const std::string&) override { return true; }
    std::string CurrentDirectory() override { return "/"; }
};

void PutText(platform::Registry& registry, const char* key, const char* name,
             const std::string& text) {
    fakes::Seed(registry, platform::HKEY_LOCAL_MACHINE, key, name, platform::REG_SZ,
                fakes::Sz(text));
}

TEST(AboutBox, CaptionsAndTheTwoBlankVersionLabel) {
    const auto version = platform::ProgramVersionInfo();
    platform::SqliteRegistry registry(":memory:");
    SomeFiles files;
    fakes::FakeProgramStarter programs;
    fakes::FakeDialogs dialogs;
    frmAbout about(version, {registry, files, programs, dialogs, version.title}, QIcon());
    EXPECT_EQ(about.windowTitle(), "About Orvel Console");
    EXPECT_EQ(about.lblTitle->text(), "Corvane Network Suite -- Orvel Console");
    EXPECT_EQ(about.lblVersion->text(), "Version  Release 7.1.0");
    EXPECT_TRUE(about.txtDescription->isHidden());
    EXPECT_EQ(about.cmdOK->text(), "OK");
    EXPECT_EQ(about.cmdSysInfo->text(), "&System Info...");
}

TEST(AboutBox, SystemInformationBranches) {
    struct Case {
        const char* what;
        const char* path;      // the first key's value, or none
        const char* location;  // the second key's value, or none
        const char* existing;  // the one file that exists
        bool startFails;
        const char* started;  // nullptr: the unavailable box
    };
    const Case cases[] = {
        {"first key, started unchecked", "/usr/bin/hardinfo", nullptr, "", false,
         "/usr/bin/hardinfo"},
        {"first key wins over second", "/usr/bin/hardinfo", "/opt/msinfo",
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
        SomeFiles files;
        files.existing = c.existing;
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
            EXPECT_TRUE(dialogs.boxes.empty());
        } else {
            ASSERT_EQ(dialogs.boxes.size(), 1u);
            EXPECT_EQ(dialogs.boxes[0].text, "System Information Is Unavailable At This Time");
            EXPECT_EQ(dialogs.boxes[0].style, 0);
        }
        EXPECT_TRUE(dialogs.ScriptDone());
    }
}

}  // namespace
}  // namespace orvel::mainwindow
