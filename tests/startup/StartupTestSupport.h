#pragma once

// Platform stand-ins for the start-up tests: a file system whose executable
// folder is a temporary folder, and a registry that records the calls made
// and can refuse every write as a user without administrator rights meets.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "RegistryTestSupport.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/linux/LinuxFileSystem.h"

namespace orvel::startup::testing {

class TempFolderFileSystem : public platform::FileSystem {
  public:
    explicit TempFolderFileSystem(std::filesystem::path folder) : folder_(std::move(folder)) {}
    bool FileExists(const std::string& path) override { return real_.FileExists(path); }
    std::optional<std::string> ResolvePath(const std::string& path) override {
        return real_.ResolvePath(path);
    }
    std::string ExecutableFolder() override { return folder_.string(); }
    std::string ExecutableName() override { return "Orvel_Console"; }
    bool ChangeDirectory(const std::string&) override { return true; }
    std::string CurrentDirectory() override { return folder_.string(); }

  private:
    std::filesystem::path folder_;
    platform::LinuxFileSystem real_;
};

struct RegistryCall {
    std::string operation;  // "open", "create", "delete key", "set"
    platform::HKEY root = 0;
    std::string subKey;  // or the value name for "set"
    platform::DWORD access = 0;
};

// A view of the store that records the calls made; readOnly refuses every
// write as a user without administrator rights meets.
class RecordingRegistry : public fakes::StoreView {
  public:
    explicit RecordingRegistry(platform::Registry& inner) : StoreView(inner) {}

    std::vector<RegistryCall> calls;

    platform::LONG RegOpenKeyExA(platform::HKEY key, std::string_view subKey,
                                 platform::DWORD options, platform::DWORD samDesired,
                                 platform::HKEY* result) override {
        calls.push_back({"open", key, std::string(subKey), samDesired});
        return StoreView::RegOpenKeyExA(key, subKey, options, samDesired, result);
    }
    platform::LONG RegCreateKeyA(platform::HKEY key, std::string_view subKey,
                                 platform::HKEY* result) override {
        calls.push_back({"create", key, std::string(subKey), 0});
        return StoreView::RegCreateKeyA(key, subKey, result);
    }
    platform::LONG RegSetValueExA(platform::HKEY key, std::string_view valueName,
                                  platform::DWORD type, const std::uint8_t* data,
                                  platform::DWORD dataSize) override {
        calls.push_back({"set", key, std::string(valueName), type});
        return StoreView::RegSetValueExA(key, valueName, type, data, dataSize);
    }
    platform::LONG RegDeleteKeyA(platform::HKEY key, std::string_view subKey) override {
        calls.push_back({"delete key", key, std::string(subKey), 0});
        return StoreView::RegDeleteKeyA(key, subKey);
    }
};

}  // namespace orvel::startup::testing
