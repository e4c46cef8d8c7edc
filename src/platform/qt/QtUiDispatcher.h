#pragma once

#include <memory>

#include "platform/UiDispatcher.h"

class QObject;

namespace orvel::platform {

// Posts work to the thread of a target object (the user-interface thread) as
// a queued invocation. Post may be called from any thread; once the target or
// the dispatcher is gone, posted work is dropped instead of run.
class QtUiDispatcher final : public UiDispatcher {
  public:
    // Without a target the dispatcher makes its own object in the calling
    // thread, which must then be the user-interface thread.
    explicit QtUiDispatcher(QObject* target = nullptr);
    ~QtUiDispatcher() override;
    QtUiDispatcher(const QtUiDispatcher&) = delete;
    QtUiDispatcher& operator=(const QtUiDispatcher&) = delete;

    void Post(std::function<void()> work) override;

  private:
    struct Target;
    std::shared_ptr<Target> target_;
    std::unique_ptr<QObject> ownTarget_;
};

}  // namespace orvel::platform
