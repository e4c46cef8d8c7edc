#pragma once

#include "platform/InstanceLock.h"

namespace orvel::fakes {

// The previous-instance flag as the test sets it; counts the questions.
class FakeInstanceLock : public platform::InstanceLock {
  public:
    bool PreviousInstance() override {
        ++asked;
        return anotherInstance;
    }

    bool anotherInstance = false;
    int asked = 0;
};

}  // namespace orvel::fakes
