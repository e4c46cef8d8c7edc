#pragma once

// Where a failure that the program goes on after leaves a line for whoever
// looks into it later: the console never shows such a failure to the operator,
// but it must not vanish without a trace either.

#include <exception>
#include <string>
#include <string_view>

namespace orvel::platform {

// The folder (area) a line comes from; each is a logging category of its own,
// so one area can be turned up or down without the others.
enum class DiagnosticArea {
    kStartup,
    kMainWindow,
    kDCom,
    kNetwork,
    kLauncher,
    kProcesses,
    kSettings
};

class Diagnostics {
  public:
    virtual ~Diagnostics() = default;
    virtual void Warning(DiagnosticArea area, std::string_view text) = 0;
};

// Runs work; an exception it throws ends that work only, and leaves a line
// naming what failed and why. Answers false when the work ended that way.
template <typename Work>
bool RunGuarded(Diagnostics& diagnostics, DiagnosticArea area, std::string_view what, Work&& work) {
    try {
        work();
        return true;
    } catch (const std::exception& failure) {
        diagnostics.Warning(area, std::string(what) + " failed: " + failure.what());
    } catch (...) {
        diagnostics.Warning(area, std::string(what) + " failed: an unknown exception");
    }
    return false;
}

}  // namespace orvel::platform
