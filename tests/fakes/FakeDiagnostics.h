#pragma once

// Keeps every diagnostic line, so a test can see that a failure the program
// went on after was not swallowed without a trace.

#include <string>
#include <vector>

#include "platform/Diagnostics.h"

namespace orvel::fakes {

class FakeDiagnostics final : public platform::Diagnostics {
  public:
    void Warning(platform::DiagnosticArea area, std::string_view text) override {
        lines.push_back({area, std::string(text)});
    }
    struct Line {
        platform::DiagnosticArea area;
        std::string text;
    };
    std::vector<Line> lines;
};

}  // namespace orvel::fakes
