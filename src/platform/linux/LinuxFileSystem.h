#pragma once

// Files and folders on Linux. Windows names were case-blind, so a path that
// does not exist as written is looked up again component by component without
// regard to letter case ("BIN/corvane.ini" finds "bin/CORVANE.INI").

#include "platform/FileSystem.h"

namespace orvel::platform {

class LinuxFileSystem final : public FileSystem {
  public:
    bool FileExists(const std::string& path) override;
    std::optional<std::string> ResolvePath(const std::string& path) override;
    std::string ExecutableFolder() override;
    std::string ExecutableName() override;
    bool ChangeDirectory(const std::string& path) override;
    std::string CurrentDirectory() override;
};

}  // namespace orvel::platform
