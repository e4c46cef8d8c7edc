#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "FakeDialogs.h"
#include "TempDir.h"
#include "startup/DisplayCheck.h"
#include "startup/RecordedDialogs.h"
#include "startup/StartupTexts.h"

namespace orvel::startup {
namespace {

TEST(StartupTexts, SplashPlatformLabelByPlatformNumber) {
    const int nt = platform::VER_PLATFORM_WIN32_NT;
    EXPECT_EQ(SplashPlatformText({nt, 6, 12, 9}, "Platform"), "Linux 6.12 9")
        << "a two-digit minor is not rounded away";
    EXPECT_EQ(SplashPlatformText({platform::VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998}, "Platform"),
              "Win 95/98");
    EXPECT_EQ(SplashPlatformText({3, 1, 2, 3}, "Platform"), "Platform");
}

// Sets (nullptr: clears) one environment variable for the life of the object.
struct ScopedEnv {
    ScopedEnv(const char* variable, const char* value) : name(variable) {
        if (const char* old = std::getenv(name)) saved = old;
        Set(name, value);
    }
    ~ScopedEnv() { Set(name, saved ? saved->c_str() : nullptr); }
    static void Set(const char* name, const char* value) {
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    const char* name;
    std::optional<std::string> saved;
};

TEST(StartupTexts, NoDisplayGivesAClearMessage) {
    ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    {
        ScopedEnv display("DISPLAY", nullptr);
        auto message = MissingDisplayMessage([] { return true; });
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(message->rfind("Orvel Console needs a display: set DISPLAY", 0), 0u) << *message;
    }
    {
        ScopedEnv display("DISPLAY", ":987");
        auto message = MissingDisplayMessage([] { return false; });
        ASSERT_TRUE(message.has_value());
        EXPECT_NE(message->find("\":987\""), std::string::npos) << *message;
    }
    ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
    EXPECT_FALSE(MissingDisplayMessage([] { return false; }).has_value());
}

// A scripted start answers each box as Enter on its default button would, and
// leaves one line per box, so a script can count them.
TEST(RecordedDialogs, AnswersWithTheDefaultButtonAndRecordsOneLinePerBox) {
    EXPECT_EQ(DefaultAnswer(platform::vbOKOnly + platform::vbCritical), platform::vbOK);
    EXPECT_EQ(DefaultAnswer(platform::vbYesNo + platform::vbQuestion), platform::vbYes);
    EXPECT_EQ(DefaultAnswer(platform::vbYesNo + platform::vbDefaultButton2), platform::vbNo);
    EXPECT_EQ(DefaultAnswer(3 + 0x200), 2) << "Yes/No/Cancel, third button";
    EXPECT_EQ(DefaultAnswer(0x300), platform::vbOK) << "no fourth button: the first";

    fakes::TempDir folder{"orvel-recorded"};
    fakes::FakeDialogs inner;
    RecordedDialogs dialogs(inner, folder.str("boxes.txt"));
    dialogs.MsgBox("Unable To Access Registry\r\rYou May not", platform::vbCritical,
                   "Registry Access");
    EXPECT_EQ(dialogs.InputBox("Server name?", "Remote", "fs1"), "fs1");
    EXPECT_EQ(fakes::ReadFile(folder.str("boxes.txt")),
              "MsgBox\tRegistry Access\tUnable To Access Registry  You May not\n"
              "InputBox\tRemote\tServer name?\n");
}

}  // namespace
}  // namespace orvel::startup
