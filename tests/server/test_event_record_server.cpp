// The suite's record kept by the real server: what a console and --events
// read back of a session.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SuiteServerHarness.h"

namespace orvel::testing {
namespace {

using ::testing::HasSubstr;

TEST(SuiteRecordTest, ConsolesAndEventsReadWhatTheServerRecorded) {
    SuiteServerHarness harness;
    harness.InstallComponent(0);
    harness.StartServer();
    auto created = harness.Factory().CreateLocal();
    ASSERT_TRUE(created);
    auto server = *created;
    ASSERT_EQ(server->ConnectClient("Console A").value_or(0), 1);

    auto recent = server->GetRecentEvents(0, 0);
    ASSERT_TRUE(recent) << recent.error().number;
    ASSERT_GE(recent->size(), 2u);
    EXPECT_EQ(recent->front().event, "server-started");
    const auto& registered = recent->back();
    EXPECT_EQ(registered.event, "client-registered");
    EXPECT_THAT(registered.client, HasSubstr("uid "));
    EXPECT_EQ(registered.detail, "as \"Console A\"");
    // From a sequence on: only what came after it.
    auto none = server->GetRecentEvents(registered.sequence, 10);
    ASSERT_TRUE(none);
    for (const auto& event : *none) EXPECT_GT(event.sequence, registered.sequence);
    auto newest = server->GetRecentEvents(0, 1);
    ASSERT_TRUE(newest);
    ASSERT_EQ(newest->size(), 1u);

    ASSERT_EQ(server->DisconnectClient().value_or(-1), 0);
    server.reset();
    harness.StopServer();

    int exitCode = -1;
    const std::string lines = harness.RunProgram({"Orvel_Server", "--events"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_THAT(lines, HasSubstr(" server started: version "));
    EXPECT_THAT(lines, HasSubstr(" registered: as \"Console A\"\n"));
    EXPECT_THAT(lines, HasSubstr(" withdrawn\n"));
    EXPECT_THAT(lines, HasSubstr(" server stopped: on signal 15\n"));

    const std::string json =
        harness.RunProgram({"Orvel_Server", "--events", "--json", "--since", "-1h"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_THAT(json, HasSubstr("\"event\":\"client-withdrawn\""));
    EXPECT_EQ(json.rfind("{\"sequence\":1,", 0), 0u) << json;

    harness.RunProgram({"Orvel_Server", "--events", "--since", "soon"}, &exitCode);
    EXPECT_EQ(exitCode, 2);
}

}  // namespace
}  // namespace orvel::testing
