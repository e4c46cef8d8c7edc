#pragma once

// The real file system, with the program placed in a test folder as
// "Orvel_Console".

#include <string>

#include "platform/linux/LinuxFileSystem.h"

namespace orvel::fakes {

class PlacedFileSystem : public platform::FileSystem {
  public:
    explicit PlacedFileSystem(std::string folder) : folder_(std::move(folder)) {}
    bool FileExists(const std::string& path) override { return real_.FileExists(path); }
    std::optional<std::string> ResolvePath(const std::string& path) override {
        return real_.ResolvePath(path);
    }
    std::string ExecutableFolder() override { return folder_; }
    std::string ExecutableName() override { return "Orvel_Console"; }
    bool ChangeDirectory(const std::string& path) override { return real_.ChangeDirectory(path); }
    std::string CurrentDirectory() override { return real_.CurrentDirectory(); }

  private:
    platform::LinuxFileSystem real_;
    std::string folder_;
};

}  // namespace orvel::fakes
