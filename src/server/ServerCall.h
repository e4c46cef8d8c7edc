#pragma once

// A call on a server reference that may be none: such a call fails with 91,
// as a call on an unset object variable did.

#include <memory>
#include <utility>

#include "server/SuiteServer.h"

namespace orvel::server {

template <typename Result, typename... Params, typename... Args>
Outcome<Result> CallOn(const std::shared_ptr<SuiteServer>& reference,
                       Outcome<Result> (SuiteServer::*operation)(Params...), Args&&... args) {
    if (!reference) return platform::MakeError(platform::kErrObjectNotSet);
    return ((*reference).*operation)(std::forward<Args>(args)...);
}

}  // namespace orvel::server
