#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "TempDir.h"
#include "startup/RecordedDialogs.h"

namespace orvel::startup {
namespace {

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
    EXPECT_TRUE(inner.boxes.empty()) << "nothing is shown";
    EXPECT_EQ(fakes::ReadFile(folder.str("boxes.txt")),
              "MsgBox\tRegistry Access\tUnable To Access Registry  You May not\n"
              "InputBox\tRemote\tServer name?\n");
}

}  // namespace
}  // namespace orvel::startup
