// The server worker and the references the window calls through it: a call
// the server holds costs the caller one budget and loses nothing; the late
// answer decides; calls off the window's thread wait as long as they must.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "FakeSuiteServer.h"
#include "status/LinkedSuiteServer.h"
#include "status/ServerWorker.h"

namespace orvel::status {
namespace {

using namespace std::chrono_literals;

// Long enough for anything that does happen, even on a loaded machine.
constexpr auto kPatience = 20s;

// A server whose client count waits until the test opens the gate, then
// answers what the test set; it notes the thread it is released on.
class HeldServer : public fakes::FakeSuiteServer {
  public:
    explicit HeldServer(std::thread::id* releasedOn = nullptr) : releasedOn_(releasedOn) {}
    ~HeldServer() override {
        if (releasedOn_ != nullptr) *releasedOn_ = std::this_thread::get_id();
    }
    platform::Outcome<std::int16_t> GetClientCount() override {
        ++asked;
        gate.wait();
        if (answerLost) return platform::MakeError(platform::kErrServerUnavailable);
        return std::int16_t{5};
    }
    void Open() { opener.set_value(); }

    std::promise<void> opener;
    std::shared_future<void> gate = opener.get_future().share();
    std::atomic<bool> answerLost{false};
    std::atomic<int> asked{0};

  private:
    std::thread::id* releasedOn_;
};

// Waits for a flag set on another thread.
template <typename Flag>
bool Eventually(const Flag& flag) {
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (!flag && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
    return flag;
}

TEST(ServerWorker, JobsRunInOrderOffTheCallerAndStopRunsWhatIsLeft) {
    ServerWorker worker(ServerWorker::Mode::Threaded);
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::promise<void> hold;
    auto held = hold.get_future().share();
    worker.Post([held] { held.wait(); });
    for (int i = 0; i < 3; ++i) {
        worker.Post([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    hold.set_value();
    worker.Stop();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    for (auto id : threads) EXPECT_NE(id, std::this_thread::get_id());

    // Stopped: a job (a late release) runs at once on the caller.
    std::thread::id ranOn;
    worker.Post([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

class HeldReference : public ::testing::Test {
  protected:
    std::thread::id releasedOn;  // outlives the worker, which releases the server
    std::shared_ptr<ServerWorker> worker =
        std::make_shared<ServerWorker>(ServerWorker::Mode::Threaded);
    std::shared_ptr<SharedFate> fate = std::make_shared<SharedFate>();
    std::shared_ptr<HeldServer> server = std::make_shared<HeldServer>(&releasedOn);
    std::unique_ptr<LinkedSuiteServer> reference =
        std::make_unique<LinkedSuiteServer>(server, fate, worker);
};

TEST_F(HeldReference, AHeldCallAnswers462WithoutLosingAndTheServerIsNotAskedAgain) {
    std::atomic<bool> caughtUp{false};
    worker->SetCaughtUp([&] { caughtUp = true; });
    auto first = reference->GetClientCount();
    ASSERT_FALSE(first);
    EXPECT_EQ(first.error().number, platform::kErrServerUnavailable);
    EXPECT_FALSE(reference->Lost());
    // While that call waits, the window's calls fail at once, unasked.
    EXPECT_FALSE(reference->GetClientCount());
    EXPECT_FALSE(reference->GetServerName());

    server->Open();
    ASSERT_TRUE(Eventually(caughtUp)) << "the late answer is told";
    EXPECT_FALSE(reference->Lost());
    EXPECT_EQ(server->asked, 1);
    EXPECT_EQ(server->CountCalls("GetServerName"), 0);
    auto again = reference->GetClientCount();
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, 5);
}

TEST_F(HeldReference, ALateLossLosesTheReferenceAndItsLinkedTwin) {
    LinkedSuiteServer twin(std::make_shared<fakes::FakeSuiteServer>(), fate, worker);
    server->answerLost = true;
    EXPECT_FALSE(reference->GetClientCount());
    EXPECT_FALSE(reference->Lost());
    server->Open();
    ASSERT_TRUE(Eventually(fate->lost));
    EXPECT_TRUE(twin.Lost());
    EXPECT_FALSE(twin.GetServerName());
}

// A worker's own calls (a withdrawal, Connect ALL) wait for the real answer.
TEST_F(HeldReference, CallsOffTheWindowsThreadWaitForTheirAnswer) {
    platform::Outcome<std::int16_t> answer = platform::MakeError(0);
    std::thread other([&] { answer = reference->GetClientCount(); });
    while (server->asked == 0) std::this_thread::sleep_for(1ms);
    server->Open();
    other.join();
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, 5);
}

TEST_F(HeldReference, TheInstanceIsReleasedOnTheWorker) {
    server->Open();
    server.reset();
    reference.reset();
    worker->Stop();
    EXPECT_NE(releasedOn, std::thread::id{});
    EXPECT_NE(releasedOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace orvel::status
