#include <gtest/gtest.h>

#include <sstream>

#include "platform/StandardOptions.h"

namespace orvel::platform {
namespace {

// Only a first argument of --help, -h or --version is answered, and then
// nothing else runs; anything else is left to the program.
TEST(StandardOptions, HelpAndVersionAreAnsweredOnlyAsTheFirstArgument) {
    std::ostringstream out;
    EXPECT_EQ(AnswerStandardOption({"--help"}, "orvel-x", "Usage: orvel-x\n", out), 0);
    EXPECT_EQ(out.str(), "Usage: orvel-x\n");

    out.str("");
    EXPECT_EQ(AnswerStandardOption({"--version", "ignored"}, "orvel-x", "u", out), 0);
    EXPECT_EQ(out.str().rfind("orvel-x 6.0.0 (", 0), 0u) << out.str();

    out.str("");
    EXPECT_FALSE(AnswerStandardOption({}, "orvel-x", "u", out));
    EXPECT_FALSE(AnswerStandardOption({"-style", "fusion", "--help"}, "orvel-x", "u", out));
    EXPECT_FALSE(AnswerStandardOption({"--helpful"}, "orvel-x", "u", out));
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace orvel::platform
