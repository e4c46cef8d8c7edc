#pragma once

#include <optional>
#include <string>

namespace orvel::platform {

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // A regular file exists at path; a path that does not exist as written is
    // looked up component by component without regard to letter case.
    virtual bool FileExists(const std::string& path) = 0;
    // The path as it exists on disk, found case-blind; nullopt when it does not exist.
    virtual std::optional<std::string> ResolvePath(const std::string& path) = 0;
    // The folder of the running executable, without a trailing '/' (App.Path).
    virtual std::string ExecutableFolder() = 0;
    // The executable's file name (App.EXEName), e.g. "Orvel_Console".
    virtual std::string ExecutableName() = 0;
    virtual bool ChangeDirectory(const std::string& path) = 0;
    virtual std::string CurrentDirectory() = 0;
};

}  // namespace orvel::platform
