// The console against a server that is killed, stopped and continued, and
// restarted at random moments: after each blow the rows say what is true, the
// console comes back by itself, no slot runs twice and no registration of the
// console is left behind on the server.

#include <signal.h>
#include <sys/wait.h>

#include <random>
#include <thread>

#include "WithServerFixture.h"

namespace orvel::mainwindow::testing {
namespace {

class Chaos : public WithServer {
  protected:
    // Runs the window as its timer would (a tick every 500 ms) and the
    // server's events, until done or the limit.
    bool Pump(frmMain& w, const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        auto nextTick = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < end) {
            harness.dispatcher.RunPending();
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= nextTick) {
                w.tmrTimer_Timer();
                nextTick += 500ms;
            }
            std::this_thread::sleep_for(10ms);
        }
        harness.dispatcher.RunPending();
        return done();
    }

    int Running(int slot) {
        return static_cast<int>(orvel::testing::ProcessesRunning(programs[slot]).size());
    }

    // Every used row against the processes that really run.
    std::string RowsThatLie() {
        std::string wrong;
        for (auto& [slot, program] : programs) {
            const QString text = Panel(slot)->text();
            const int running = Running(slot);
            if (running > 1) wrong += " slot " + std::to_string(slot) + " runs twice;";
            if ((text == "LOCAL") != (running == 1)) {
                wrong += " slot " + std::to_string(slot) + " shows '" + text.toStdString() +
                         "' with " + std::to_string(running) + " running;";
            }
        }
        return wrong;
    }

    int RegistrationsOnServer() {
        auto probe = harness.Factory().CreateLocal();
        if (!probe) return -1;
        auto count = (*probe)->GetClientCount();
        return count ? *count : -1;
    }

    void KillServerHard() {
        kill(harness.serverPid, SIGKILL);
        waitpid(harness.serverPid, nullptr, 0);
        harness.serverPid = 0;
        // The components of a killed server outlive it; the restarted server
        // adopts them, and the checks below count that no slot runs twice.
    }
};

TEST_F(Chaos, FifteenBlowsTheRowsStayTrueAndTheConsoleComesBack) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Lost within one deadline and a tick, or, for a stopped server that
    // still holds its socket, within the console's keep-alive (two seconds).
    constexpr auto kSeen = kDeadline + 500ms + 2s;

    auto& w = Loaded();
    w.Connection()->SetRetryInterval(5s);
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected()) << harness.ServerLog();

    for (int cycle = 0; cycle < 15; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        if (random() % 3 == 0) w.cmdServerConnect_Click();  // start everything
        ASSERT_TRUE(Pump(
            w, [&] { return RowsThatLie().empty(); }, 3s))
            << RowsThatLie();
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 600));

        const int blow = static_cast<int>(random() % 3);
        if (blow == 0) {
            KillServerHard();
        } else if (blow == 1) {
            orvel::testing::StopProcess(harness.serverPid);
        } else {
            harness.StopServer();
            harness.serverPid = 0;
        }
        // Seen as lost: the disconnected look, all rows blank.
        EXPECT_TRUE(Pump(
            w, [&] { return !w.Connected() && Button("cmdServerOrvelHost")->text() == "Co&nnect"; },
            kSeen))
            << "blow " << blow;
        EXPECT_EQ(Status("keyTimeSource")->text(), "Connection to Local Server lost");
        for (auto& [slot, program] : programs) EXPECT_EQ(Panel(slot)->text(), "") << slot;

        // Back at a random moment; the next retry connects without a click.
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 800));
        if (blow == 1) {
            kill(harness.serverPid, SIGCONT);
        } else {
            harness.StartServer();
        }
        clock.Advance(5s);
        ASSERT_TRUE(Pump(
            w, [&] { return w.Connected(); }, 3s))
            << harness.ServerLog();
        EXPECT_TRUE(Pump(
            w, [&] { return RowsThatLie().empty(); }, 3s))
            << RowsThatLie();
        EXPECT_TRUE(Pump(
            w, [&] { return RegistrationsOnServer() == 2; }, 3s))
            << RegistrationsOnServer() << " registrations";
        EXPECT_TRUE(dialogs.boxes.empty());
    }
}

}  // namespace
}  // namespace orvel::mainwindow::testing
