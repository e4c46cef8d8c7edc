#pragma once

#include <functional>

namespace orvel::platform {

// Hands work from a background thread to the user-interface thread, where
// it runs between window events (also inside modal loops).
class UiDispatcher {
  public:
    virtual ~UiDispatcher() = default;
    virtual void Post(std::function<void()> work) = 0;
};

}  // namespace orvel::platform
