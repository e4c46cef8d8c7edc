#include "mainwindow/RowHistory.h"

#include <algorithm>
#include <utility>

namespace orvel::mainwindow {

namespace {

constexpr auto kFetchEvery = std::chrono::seconds(1);
constexpr std::uint32_t kFetchMax = 200;

}  // namespace

RowHistory::RowHistory(platform::UiDispatcher* dispatcher)
    : dispatcher_(dispatcher),
      worker_(dispatcher != nullptr
                  ? std::make_shared<status::ServerWorker>(status::ServerWorker::Mode::Threaded)
                  : nullptr) {}

RowHistory::~RowHistory() {
    *alive_ = false;
    // A fetch under way ends (within its call's deadline) before the
    // dispatcher it answers to can go; its answer is dropped.
    if (worker_) worker_->Stop();
}

RowHistory::Source* RowHistory::Find(const suiteclient::SuiteServer* server) {
    return const_cast<Source*>(std::as_const(*this).Find(server));
}

const RowHistory::Source* RowHistory::Find(const suiteclient::SuiteServer* server) const {
    for (const auto& source : sources_) {
        auto held = source->server.lock();
        if (held.get() == server) return source.get();
    }
    return nullptr;
}

void RowHistory::Refresh(const std::shared_ptr<suiteclient::SuiteServer>& server,
                         std::function<void()> changed) {
    if (!worker_ || !server) return;
    // Servers released since are forgotten with their events.
    sources_.erase(std::remove_if(sources_.begin(), sources_.end(),
                                  [](const auto& source) {
                                      return source->server.expired() && !source->fetching;
                                  }),
                   sources_.end());
    Source* source = Find(server.get());
    if (source == nullptr) {
        sources_.push_back(std::make_unique<Source>());
        source = sources_.back().get();
        source->server = server;
    }
    const auto now = std::chrono::steady_clock::now();
    if (source->fetching || source->unsupported || now < source->next) return;
    source->fetching = true;
    source->next = now + kFetchEvery;
    auto* dispatcher = dispatcher_;
    worker_->Post([weak = source->server, since = source->history.Last(), dispatcher,
                   alive = alive_, source, changed = std::move(changed)]() mutable {
        platform::Outcome<std::vector<suiteclient::RecordedServerEvent>> answer =
            platform::MakeError(platform::kErrServerUnavailable);
        if (auto held = weak.lock()) answer = held->GetRecentEvents(since, kFetchMax);
        dispatcher->Post([alive, source, answer = std::move(answer), changed] {
            if (!*alive) return;
            source->fetching = false;
            if (!answer) {
                // An older server: its rows keep the tips they have.
                if (answer.error().number == platform::kErrInvalidCall) source->unsupported = true;
                return;
            }
            if (answer->empty()) return;
            source->history.Add(*answer);
            // More may wait: the next refresh asks again at once.
            if (answer->size() >= kFetchMax) source->next = {};
            changed();
        });
    });
}

std::string RowHistory::Tip(const std::string& base, const suiteclient::SuiteServer* server,
                            int slot) const {
    const Source* source = server != nullptr ? Find(server) : nullptr;
    if (source == nullptr) return base;
    const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    std::string history = status::ComponentHistoryTip(source->history.Events(), slot, nowMs);
    if (history.empty()) return base;
    return base.empty() ? history : base + "\n" + history;
}

}  // namespace orvel::mainwindow
