#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <tuple>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "PlacedFileSystem.h"
#include "TempDir.h"
#include "platform/IniProfileFile.h"
#include "settings/ConsoleSettings.h"

namespace orvel::settings {
namespace {

using platform::vbNo;
using platform::vbYes;

// A section as the settings write it: its header, its lines, and the "=" line
// that ends each section.
std::string Section(std::string_view name, std::initializer_list<std::string_view> lines) {
    std::string text = "[" + std::string(name) + "]\n";
    for (std::string_view line : lines) text += std::string(line) + "\n";
    return text + "=\n";
}

// The program's own lines, written on every save.
const std::string kAbout =
    "Title=Orvel Console\n"
    "Application=Orvel_Console\n"
    "Comments=Orvel Control Console\n"
    "Version=6.0.0\n"
    "Company=Quarlen\n"
    "Copyright=\n"
    "Trademark=\n"
    "=\n";

const std::string kFirstStartFile =
    "[Orvel Console]\nCreated=12.04.2026 15:07:09\n" + kAbout +
    Section("CONFIGURATION", {"Current=0", "AutoStart=False"}) +
    Section("REMOTE SERVER", {"ServerName=", "Selected=No"}) +
    Section("LOCAL SERVER", {"ServerName=", "Selected=Yes"}) +
    Section("APPLICATION",
            {"LastUpdate=04.12.2026 15:07:09", "ColorTheme=0", "WindowState=0",
             "WindowFormHeight=0", "WindowFormWidth=0", "WindowFormTop=0", "WindowFormLeft=0"});

class ConsoleSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The start-up defaults set before the file is read.
        settings.LocalServerSelected = true;
        settings.AutoStart = false;
    }
    void TearDown() override { EXPECT_TRUE(dialogs.ScriptDone()); }
    std::string Contents() const { return fakes::ReadFile(path); }
    void Put(const std::string& text) const { fakes::WriteFile(path, text); }

    fakes::TempDir temp{"orvel-settings"};
    const std::string folder = temp.str();
    const std::string path = temp.str("Orvel Console.ini");
    platform::IniProfileFile profile;
    fakes::FakeDialogs dialogs;
    fakes::FakeClock clock;
    platform::VersionInfo version = platform::ProgramVersionInfo();
    fakes::PlacedFileSystem fileSystem{folder};
    ConfigurationContext context{profile, fileSystem, dialogs, clock, version};
    ConsoleSettings settings;
};

TEST_F(ConsoleSettingsTest, FirstStartCreatesTheFileWhenTheOperatorAgrees) {
    dialogs.ExpectBox("Create System File", vbYes);
    ReadConsoleConfiguration(context, settings);
    EXPECT_EQ(dialogs.boxes[0].text,
              "The File 'Orvel Console.ini' needs to be created.\r\rCreate one now?");
    EXPECT_EQ(dialogs.boxes[0].style, platform::vbYesNo + platform::vbQuestion);
    EXPECT_EQ(Contents(), kFirstStartFile);
    EXPECT_EQ(settings.WindowFormHeight, 0) << "what was just written is read back";
}

TEST_F(ConsoleSettingsTest, FirstStartWithoutTheFileReadsNothingAndWritesLater) {
    dialogs.ExpectBox("Create System File", vbNo);
    settings.WindowFormHeight = 1234;
    ReadConsoleConfiguration(context, settings);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(settings.WindowFormHeight, 1234);
    EXPECT_TRUE(settings.LocalServerSelected);

    settings.LocalServerName = "Local Server";
    settings.RemoteServerName = "ROUTER2";
    settings.LocalServerSelected = false;
    settings.ColorTheme = -3;
    settings.AutoStart = true;
    clock.Advance(std::chrono::seconds(61));
    WriteConsoleConfiguration(context, settings);
    EXPECT_EQ(Contents(), "[Orvel Console]\n" + kAbout +
                              Section("REMOTE SERVER", {"ServerName=ROUTER2", "Selected=Yes"}) +
                              Section("LOCAL SERVER", {"ServerName=Local Server", "Selected=No"}) +
                              Section("APPLICATION", {"LastUpdate=04.12.2026 15:08:10",
                                                      "ColorTheme=-3", "WindowState=0",
                                                      "WindowFormHeight=1234", "WindowFormWidth=0",
                                                      "WindowFormTop=0", "WindowFormLeft=0"}) +
                              Section("CONFIGURATION", {"Current=0", "AutoStart=True"}));
}

// Numbers are read as the old runtime's Val did and kept only when they fit 16
// bits; truth words as its Boolean conversion. nullptr: the key is missing,
// which gives the read default.
TEST_F(ConsoleSettingsTest, ConvertsNumbersAndTruthWordsAsTheOldRuntimeDid) {
    // What the file holds: ColorTheme, WindowFormHeight, the remote server's
    // Selected and AutoStart; what is read: theme, height, local selection, AutoStart.
    struct Case {
        std::array<const char*, 4> stored;
        std::tuple<std::int16_t, std::int16_t, bool, bool> read;
    };
    const Case cases[] = {
        {{nullptr, nullptr, nullptr, nullptr}, {0, 9500, true, false}},
        {{"2.5", "12abc", "yes", "TRUE"}, {2, 12, true, true}},
        {{"3.5", "40000", "Yes, remote", "-1"}, {4, 777, false, true}},
        {{" -2.5e0x", "-32768", "No", "fAlSe"}, {-2, -32768, true, false}},
        {{"abc", "32768", "YesYes", "yes"}, {0, 777, false, true}},
        {{"1d2", "-32769", "", "0"}, {100, 777, true, false}},
    };
    auto line = [](const char* key, const char* value) {
        return value != nullptr ? std::string(key) + "=" + value + "\n" : std::string();
    };
    for (const Case& c : cases) {
        const auto& [colorTheme, height, selected, autoStart] = c.stored;
        SCOPED_TRACE(height != nullptr ? height : "missing");
        Put("[REMOTE SERVER]\n" + line("Selected", selected) + "[APPLICATION]\n" +
            line("ColorTheme", colorTheme) + line("WindowFormHeight", height) +
            "[CONFIGURATION]\n" + line("AutoStart", autoStart));
        settings.ColorTheme = 4;
        settings.WindowFormHeight = 777;
        settings.AutoStart = true;
        ReadConsoleConfiguration(context, settings);
        EXPECT_EQ(std::tuple(settings.ColorTheme, settings.WindowFormHeight,
                             settings.LocalServerSelected, settings.AutoStart),
                  c.read);
    }
}

TEST_F(ConsoleSettingsTest, FileInOtherLetterCaseIsTheSameFile) {
    const std::string other = folder + "/ORVEL console.INI";
    fakes::WriteFile(other, "[CONFIGURATION]\nCurrent=2\n");
    ReadConsoleConfiguration(context, settings);
    EXPECT_EQ(settings.Current, 2);
    WriteConsoleConfiguration(context, settings);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(fakes::ReadFile(other).rfind("[CONFIGURATION]\nCurrent=2\n", 0), 0u);
}

TEST_F(ConsoleSettingsTest, LongServerNameIsCutTo255Characters) {
    Put("[REMOTE SERVER]\nServerName=" + std::string(300, 'r') + "\n");
    ReadConsoleConfiguration(context, settings);
    EXPECT_EQ(settings.RemoteServerName, std::string(255, 'r'));
}

TEST_F(ConsoleSettingsTest, UnwritableFileIsToldOncePerRun) {
    Put("[CONFIGURATION]\nCurrent=2\n");
    ::chmod(path.c_str(), 0444);
    dialogs.ExpectBox("Settings Not Saved");
    WriteConsoleConfiguration(context, settings);
    WriteConsoleConfiguration(context, settings);  // told once, by the script
    EXPECT_EQ(dialogs.boxes[0].style, platform::vbExclamation);
    EXPECT_NE(dialogs.boxes[0].text.find(path), std::string::npos);
    EXPECT_EQ(Contents(), "[CONFIGURATION]\nCurrent=2\n");
    // The settings in memory stay as they were; reading still works.
    ReadConsoleConfiguration(context, settings);
    EXPECT_EQ(settings.Current, 2);
}

TEST_F(ConsoleSettingsTest, UnwritableFolderAtCreationIsToldOnce) {
    ::chmod(folder.c_str(), 0555);
    dialogs.ExpectBox("Create System File", vbYes).ExpectBox("Settings Not Saved");
    ReadConsoleConfiguration(context, settings);
    WriteConsoleConfiguration(context, settings);  // told once, by the script
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(settings.WindowFormHeight, 9500);  // read defaults, nothing was written
}

}  // namespace
}  // namespace orvel::settings
