#pragma once

// An in-memory file system: exactly the listed files exist (ResolvePath finds
// them as written), the program lies in executableFolder as "Orvel_Console",
// and a change of directory only moves currentDirectory.

#include <optional>
#include <set>
#include <string>

#include "platform/FileSystem.h"

namespace orvel::fakes {

class FakeFileSystem : public platform::FileSystem {
  public:
    std::set<std::string> files;
    std::string executableFolder = "/opt/console";
    std::string currentDirectory = "/";

    bool FileExists(const std::string& path) override { return files.count(path) > 0; }
    std::optional<std::string> ResolvePath(const std::string& path) override {
        return FileExists(path) ? std::optional<std::string>(path) : std::nullopt;
    }
    std::string ExecutableFolder() override { return executableFolder; }
    std::string ExecutableName() override { return "Orvel_Console"; }
    bool ChangeDirectory(const std::string& path) override {
        currentDirectory = path;
        return true;
    }
    std::string CurrentDirectory() override { return currentDirectory; }
};

}  // namespace orvel::fakes
