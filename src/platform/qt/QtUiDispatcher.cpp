#include "platform/qt/QtUiDispatcher.h"

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

namespace orvel::platform {

// The target shared with the destroyed-signal handler: cleared under the
// mutex before the object goes, so a post never reaches a deleted object.
struct QtUiDispatcher::Target {
    std::mutex mutex;
    QObject* object = nullptr;
};

QtUiDispatcher::QtUiDispatcher(QObject* target) : target_(std::make_shared<Target>()) {
    if (target == nullptr) {
        ownTarget_ = std::make_unique<QObject>();
        target = ownTarget_.get();
    }
    target_->object = target;
    std::weak_ptr<Target> shared = target_;
    QObject::connect(target, &QObject::destroyed, [shared] {
        if (auto state = shared.lock()) {
            std::lock_guard lock(state->mutex);
            state->object = nullptr;
        }
    });
}

QtUiDispatcher::~QtUiDispatcher() {
    {
        std::lock_guard lock(target_->mutex);
        target_->object = nullptr;
    }
    ownTarget_.reset();
}

void QtUiDispatcher::Post(std::function<void()> work) {
    std::lock_guard lock(target_->mutex);
    if (target_->object == nullptr) return;
    QMetaObject::invokeMethod(target_->object, std::move(work), Qt::QueuedConnection);
}

}  // namespace orvel::platform
