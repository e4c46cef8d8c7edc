#pragma once

// What the registry says about the suite: the program registered for each
// component slot (read afresh at every call, resolved against the suite
// folder when relative), and the active set. One lock keeps the store's
// reads and the note of its last problem together.

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Registry.h"
#include "suiteserver/ServerLog.h"

namespace orvel::suiteserver {

enum class ProgramState { kNotRegistered, kMissing, kRefused, kReady };

struct Program {
    ProgramState state = ProgramState::kNotRegistered;
    std::string path;
    std::string note;  // how a relative path was resolved, or why it was refused
    // RestartOnFailure (REG_DWORD, 1 = on) beside the registered program: the
    // component is started again when it exits on its own. Off by default.
    bool restartOnFailure = false;
};

// The value beside a component's registered program that turns restart on failure on.
inline constexpr std::string_view kRestartOnFailureValue = "RestartOnFailure";

class ProgramResolver {
  public:
    ProgramResolver(platform::Registry& registry, ServerLog& log);

    // The slot's registered program and whether it can be started.
    Program Resolve(int index);
    // Only whether it can be started: what every status call asks, without
    // the restart setting's read.
    ProgramState StateOf(int index);
    // The active set's name; nullopt when the store cannot be read.
    std::optional<std::string> ActiveSet();
    // Logs a change of the store's problem (or its end).
    void NoteStoreProblem();

  private:
    Program Read(int index, bool withRestartSetting);
    void NoteStoreProblemLocked();
    std::string SuiteFolder();

    platform::Registry& registry_;
    ServerLog& log_;
    std::mutex mutex_;
    std::string lastStoreProblem_;
};

// The text without surrounding blanks and quotes, as a registry value is read.
std::string TrimmedValue(std::string text);

}  // namespace orvel::suiteserver
