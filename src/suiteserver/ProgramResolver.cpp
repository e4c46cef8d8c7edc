#include "suiteserver/ProgramResolver.h"

#include <unistd.h>

#include <cstdint>
#include <filesystem>

#include "suite/ComponentCatalog.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::suiteserver {

std::string TrimmedValue(std::string text) {
    auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    auto last = text.find_last_not_of(" \t");
    text = text.substr(first, last - first + 1);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

ProgramResolver::ProgramResolver(platform::Registry& registry, ServerLog& log)
    : registry_(registry), log_(log) {}

void ProgramResolver::NoteStoreProblem() {
    std::lock_guard lock(mutex_);
    NoteStoreProblemLocked();
}

void ProgramResolver::NoteStoreProblemLocked() {
    std::string problem = registry_.StoreProblem();
    if (problem != lastStoreProblem_) {
        log_.Line(problem.empty() ? "registry store readable again"
                                  : "registry store problem: " + problem);
        lastStoreProblem_ = problem;
    }
}

std::string ProgramResolver::SuiteFolder() {
    std::optional<std::string> folder;
    {
        std::lock_guard lock(mutex_);
        folder = suite::ReadStringValue(registry_, platform::HKEY_LOCAL_MACHINE,
                                        suite::kSuiteFolderKey, suite::kSuiteFolderValue);
    }
    std::string text = folder ? TrimmedValue(*folder) : std::string();
    return text.empty() ? std::string(suite::kDefaultSuiteFolder) : text;
}

std::optional<std::string> ProgramResolver::ActiveSet() {
    std::lock_guard lock(mutex_);
    auto set = suite::ReadStringValue(registry_, platform::HKEY_LOCAL_MACHINE, suite::kActiveSetKey,
                                      suite::kActiveSetValue);
    if (!set) NoteStoreProblemLocked();
    return set;
}

Program ProgramResolver::Resolve(int index) {
    return Read(index, true);
}

ProgramState ProgramResolver::StateOf(int index) {
    return Read(index, false).state;
}

Program ProgramResolver::Read(int index, bool withRestartSetting) {
    const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(index)];
    const std::string key = "CLSID\\" + std::string(definition.classId) + "\\LocalServer32";
    std::optional<std::string> value;
    std::optional<std::uint32_t> restart;
    {
        std::lock_guard lock(mutex_);
        value = suite::ReadStringValue(registry_, platform::HKEY_CLASSES_ROOT, key, "");
        if (!value) NoteStoreProblemLocked();
        if (value && withRestartSetting) {
            restart = suite::ReadDwordValue(registry_, platform::HKEY_CLASSES_ROOT, key,
                                            kRestartOnFailureValue);
        }
    }
    Program program;
    if (!value) return program;
    program.restartOnFailure = restart.value_or(0) == 1;
    program.path = TrimmedValue(*value);
    if (program.path.empty()) return program;
    namespace fs = std::filesystem;
    fs::path given(program.path);
    if (given.is_relative()) {
        // Never against this server's own working folder: against the suite
        // folder, and only inside it.
        fs::path folder = fs::path(SuiteFolder()).lexically_normal();
        fs::path resolved = (folder / given).lexically_normal();
        fs::path inside = resolved.lexically_relative(folder);
        if (!folder.is_absolute() || inside.empty() || *inside.begin() == "..") {
            program.state = ProgramState::kRefused;
            program.note = "relative program path \"" + program.path +
                           "\" refused: it leaves the suite folder " + folder.string();
            return program;
        }
        program.note = "relative program path \"" + program.path +
                       "\" resolved against the suite folder " + folder.string();
        program.path = resolved.string();
    }
    std::error_code error;
    bool runnable =
        fs::is_regular_file(program.path, error) && access(program.path.c_str(), X_OK) == 0;
    program.state = runnable ? ProgramState::kReady : ProgramState::kMissing;
    return program;
}

}  // namespace orvel::suiteserver
