#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "startup/DisplayCheck.h"
#include "startup/StartupTexts.h"

namespace orvel::startup {
namespace {

// Sets or clears one environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(DisplayCheckTest, NoDisplayGivesAClearMessage) {
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

}  // namespace
}  // namespace orvel::startup
