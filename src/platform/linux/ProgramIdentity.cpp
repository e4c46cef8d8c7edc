#include "platform/linux/ProgramIdentity.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <memory>
#include <string_view>

#include "platform/UniqueFd.h"

namespace orvel::platform {

namespace {

constexpr std::string_view kDeletedMark = " (deleted)";
// The kernel reads at most this much of a script's first line.
constexpr std::size_t kInterpreterLine = 256;

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat status {};
    if (path.empty() || stat(path.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                        static_cast<std::uint64_t>(status.st_ino)};
}

std::optional<std::string> RealPath(const std::string& path) {
    if (path.empty()) return std::nullopt;
    const std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

// The path made canonical; for a file that does not exist (any more), its
// folder made canonical and its name appended.
std::optional<std::string> CanonicalPath(const std::string& path) {
    if (auto whole = RealPath(path)) return whole;
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    auto canonical = RealPath(folder);
    if (!canonical) return std::nullopt;
    if (canonical->back() != '/') canonical->push_back('/');
    canonical->append(name);
    return canonical;
}

struct InterpreterLine {
    std::string interpreter;
    bool hasOption = false;
};

// "#!interpreter [option]" as the kernel takes it: blanks and tabs around
// the interpreter, the rest of the line (trimmed) as one option.
std::optional<InterpreterLine> ReadInterpreterLine(const std::string& path) {
    const UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file) return std::nullopt;
    struct stat status {};
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    char buffer[kInterpreterLine] = {};
    std::size_t size = 0;
    while (size < sizeof(buffer)) {
        const ssize_t n = read(file.get(), buffer + size, sizeof(buffer) - size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        size += static_cast<std::size_t>(n);
    }
    std::string_view line(buffer, size);
    if (!line.starts_with("#!")) return std::nullopt;
    line.remove_prefix(2);
    line = line.substr(0, line.find('\n'));
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && (isBlank(line.back()) || line.back() == '\r' || line.back() == '\0'))
        line.remove_suffix(1);
    std::size_t end = 0;
    while (end < line.size() && !isBlank(line[end]) && line[end] != '\0') ++end;
    if (end == 0) return std::nullopt;
    InterpreterLine result;
    result.interpreter = std::string(line.substr(0, end));
    std::string_view rest = line.substr(end);
    while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
    result.hasOption = !rest.empty();
    return result;
}

bool IsSet(const FileIdentity& identity) {
    return identity.device != 0 || identity.inode != 0;
}

}  // namespace

std::optional<ProgramIdentity> IdentifyProgram(const std::string& path) {
    auto canonical = CanonicalPath(path);
    if (!canonical) return std::nullopt;
    ProgramIdentity program;
    program.canonicalPath = std::move(*canonical);
    const auto file = IdentityOf(path);
    if (!file) return program;
    program.file = *file;
    if (auto line = ReadInterpreterLine(path)) {
        std::string interpreter = line->interpreter;
        if (interpreter.front() != '/') {
            const std::size_t slash = program.canonicalPath.rfind('/');
            interpreter = program.canonicalPath.substr(0, slash + 1) + interpreter;
        }
        program.interpreter = IdentityOf(interpreter);
        program.interpreterCanonicalPath = RealPath(interpreter).value_or(interpreter);
        program.scriptWord = line->hasOption ? 2 : 1;
    }
    return program;
}

std::optional<std::vector<std::size_t>> ProgramsRunBy(const ProcFs& proc, pid_t pid,
                                                      std::span<const ProgramIdentity> programs) {
    const auto exe = proc.ExeStatus(pid);
    if (!exe) return std::nullopt;
    // Read only when needed: the link's text for a removed executable, the
    // command line for a script's interpreter.
    std::optional<std::optional<std::string>> link;
    std::optional<std::optional<std::vector<std::string>>> words;
    auto isRemovedCopyOf = [&](const std::string& canonicalPath) {
        if (!exe->removed || canonicalPath.empty()) return false;
        if (!link) link = proc.ExeLink(pid);
        return *link && link->value().size() == canonicalPath.size() + kDeletedMark.size() &&
               link->value().starts_with(canonicalPath) && link->value().ends_with(kDeletedMark);
    };
    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < programs.size(); ++i) {
        const ProgramIdentity& program = programs[i];
        if (!program.interpreter) {
            if ((IsSet(program.file) && exe->identity == program.file) ||
                isRemovedCopyOf(program.canonicalPath)) {
                matches.push_back(i);
            }
            continue;
        }
        if (exe->identity != *program.interpreter &&
            !isRemovedCopyOf(program.interpreterCanonicalPath)) {
            continue;
        }
        if (!words) words = proc.CommandLine(pid, 3);  // a script is word 1 or 2
        if (!*words || words->value().size() <= program.scriptWord) continue;
        const auto script = proc.StatusInWorkingFolder(pid, words->value()[program.scriptWord]);
        if (script && script->identity == program.file) matches.push_back(i);
    }
    return matches;
}

bool SameProgram(const ProcFs& proc, pid_t pid, const ProgramIdentity& program) {
    const auto matches = ProgramsRunBy(proc, pid, std::span(&program, 1));
    return matches && !matches->empty();
}

bool SameProgram(const ProcFs& proc, pid_t pid, const std::string& programPath) {
    const auto program = IdentifyProgram(programPath);
    return program && SameProgram(proc, pid, *program);
}

}  // namespace orvel::platform
