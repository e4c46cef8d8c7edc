#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "FakeDialogs.h"
#include "FakeFileSystem.h"
#include "FakeSuiteServer.h"
#include "FakeWindowSystem.h"
#include "launcher/ApplicationCatalogue.h"

namespace orvel::launcher {
namespace {

TEST(ApplicationCatalogue, RowsAndFileCheck) {
    ApplicationCatalogue catalogue;
    FillApplicationRows(catalogue, "/suite/", "/corvane/bin/", "Shaper.exe");
    // The shaper lives in the router system's folder and is named by the
    // caller; each entry takes one place (category, slot) and starts unchecked.
    EXPECT_EQ(catalogue[14].FileName, "Shaper.exe");
    std::set<std::pair<int, int>> places;
    for (std::size_t i = 1; i <= 15; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(catalogue[i].State, kStateUnsupported);
        EXPECT_EQ(catalogue[i].Path, i == 14 ? "/corvane/bin/" : "/suite/");
        EXPECT_TRUE(places.insert({catalogue[i].Category, catalogue[i].Slot}).second);
    }

    fakes::FakeFileSystem files;
    files.files = {"/suite/DeskMain.exe", "/corvane/bin/Shaper.exe"};
    CheckApplicationFiles(catalogue, files);
    EXPECT_EQ(catalogue[1].State, kStateFilePresent);
    EXPECT_EQ(catalogue[14].State, kStateFilePresent);
    EXPECT_EQ(catalogue[2].State, kStateFileMissing);
}

TEST(ApplicationCatalogue, FindRunningApplicationReturnsTheLowestAndNeverEntryZero) {
    ApplicationCatalogue catalogue;
    FillApplicationRows(catalogue, "/suite/", "/corvane/bin/", "Shaper.exe");
    fakes::FakeWindowSystem windows;
    windows.AddWindow("JOURNALVIEW", 30);
    windows.AddWindow("Card Health", 80);
    EXPECT_EQ(FindRunningApplication(catalogue, windows), 3);
    EXPECT_EQ(catalogue[3].WindowHandle, 30u);
    EXPECT_EQ(catalogue[1].WindowHandle, 0u);
    windows.RemoveWindow(30);
    windows.RemoveWindow(80);
    EXPECT_EQ(FindRunningApplication(catalogue, windows), 0);
    // Each search asks for the titles of entries 1-15 together, never entry 0's.
    EXPECT_EQ(windows.titlesAsked.size(), 15u + 15u);
    EXPECT_EQ(std::count(windows.titlesAsked.begin(), windows.titlesAsked.end(), ""), 0);
}

class MissingServer : public ::testing::Test {
  protected:
    void SetUp() override {
        status::FillComponentServerTable(table, "/suite/");
        for (auto& s : local->statuses) s = 1;
        for (auto& s : remote->statuses) s = 1;
    }
    // Stops slot k wherever it is reached.
    void Stop(int k) {
        local->statuses[static_cast<std::size_t>(k)] = 0;
        remote->statuses[static_cast<std::size_t>(k)] = 0;
    }
    std::int16_t Find(int index) { return FindMissingServer(index, {table, objLocal, objRemote}); }

    status::ComponentServerTable table;
    std::shared_ptr<fakes::FakeSuiteServer> local = std::make_shared<fakes::FakeSuiteServer>();
    std::shared_ptr<fakes::FakeSuiteServer> remote = std::make_shared<fakes::FakeSuiteServer>();
    std::shared_ptr<suiteclient::SuiteServer> objLocal = local, objRemote = remote;
};

TEST_F(MissingServer, TheLastOfTheCombinedListThatIsNotRunning) {
    EXPECT_EQ(Find(2), -1);
    Stop(6);
    Stop(9);
    EXPECT_EQ(Find(2), 6);
    Stop(3);
    local->statuses[6] = local->statuses[9] = remote->statuses[6] = remote->statuses[9] = 1;
    EXPECT_EQ(Find(2), 3);
    Stop(11);
    EXPECT_EQ(Find(2), 3);  // 11, 7, 3: the later one wins
    EXPECT_EQ(Find(15), -1);
}

TEST_F(MissingServer, EntryOneFollowsTheActiveSetRule) {
    remote->activeSet = "No Active Set";
    Stop(7);
    Stop(11);
    Stop(3);
    EXPECT_EQ(Find(1), -1);
    local->statuses[7] = remote->statuses[7] = 1;
    Stop(9);
    EXPECT_EQ(Find(1), 9);
    local->statuses[9] = remote->statuses[9] = 1;
    EXPECT_EQ(Find(1), 3);  // with 7 and 9 running, the common part still counts
    remote->activeSet = "Set A";
    Stop(9);
    EXPECT_EQ(Find(1), 9);
}

TEST_F(MissingServer, NotConnectedOrFailingCalls) {
    objRemote.reset();
    EXPECT_EQ(Find(2), -1);
    EXPECT_TRUE(local->calls.empty());
    objRemote = remote;
    remote->lost = true;  // 3, 7, 11 are reached through the remote server
    EXPECT_EQ(Find(5), 3);
}

TEST_F(MissingServer, StartRequiredServersStartsCommonThenItsList) {
    fakes::FakeDialogs dialogs;
    StartRequiredServers(7, {table, objLocal, objRemote}, dialogs);
    EXPECT_EQ(remote->calls, (std::vector<std::string>{"StartComponent(11)", "StartComponent(7)",
                                                       "StartComponent(3)"}));
    EXPECT_EQ(local->calls, (std::vector<std::string>{"StartComponent(4)", "StartComponent(5)",
                                                      "StartComponent(0)", "StartComponent(1)"}));
    objRemote.reset();
    local->calls.clear();
    StartRequiredServers(7, {table, objLocal, objRemote}, dialogs);
    EXPECT_TRUE(local->calls.empty());
}

}  // namespace
}  // namespace orvel::launcher
