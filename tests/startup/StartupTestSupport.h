#pragma once

// Platform stand-ins for the start-up tests: a file system whose executable
// folder is a temporary folder, and a registry that records the calls made
// and can refuse every write as a user without administrator rights meets.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/LinuxFileSystem.h"
#include "platform/Registry.h"

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

class RecordingRegistry : public platform::Registry {
  public:
    explicit RecordingRegistry(platform::Registry& inner) : inner_(inner) {}

    // Answers ERROR_ACCESS_DENIED to every open for writing, create, set and delete.
    bool denyWrites = false;
    std::vector<RegistryCall> calls;

    platform::LONG RegOpenKeyExA(platform::HKEY key, std::string_view subKey,
                                 platform::DWORD options, platform::DWORD samDesired,
                                 platform::HKEY* result) override {
        calls.push_back({"open", key, std::string(subKey), samDesired});
        if (denyWrites && samDesired != platform::KEY_READ) return platform::ERROR_ACCESS_DENIED;
        return inner_.RegOpenKeyExA(key, subKey, options, samDesired, result);
    }
    platform::LONG RegCreateKeyA(platform::HKEY key, std::string_view subKey,
                                 platform::HKEY* result) override {
        calls.push_back({"create", key, std::string(subKey), 0});
        if (denyWrites) return platform::ERROR_ACCESS_DENIED;
        return inner_.RegCreateKeyA(key, subKey, result);
    }
    platform::LONG RegQueryValueExA(platform::HKEY key, std::string_view valueName,
                                    platform::DWORD* type, std::uint8_t* data,
                                    platform::DWORD* dataSize) override {
        return inner_.RegQueryValueExA(key, valueName, type, data, dataSize);
    }
    platform::LONG RegSetValueExA(platform::HKEY key, std::string_view valueName,
                                  platform::DWORD type, const std::uint8_t* data,
                                  platform::DWORD dataSize) override {
        calls.push_back({"set", key, std::string(valueName), type});
        if (denyWrites) return platform::ERROR_ACCESS_DENIED;
        return inner_.RegSetValueExA(key, valueName, type, data, dataSize);
    }
    platform::LONG RegDeleteValueA(platform::HKEY key, std::string_view valueName) override {
        if (denyWrites) return platform::ERROR_ACCESS_DENIED;
        return inner_.RegDeleteValueA(key, valueName);
    }
    platform::LONG RegDeleteKeyA(platform::HKEY key, std::string_view subKey) override {
        calls.push_back({"delete key", key, std::string(subKey), 0});
        if (denyWrites) return platform::ERROR_ACCESS_DENIED;
        return inner_.RegDeleteKeyA(key, subKey);
    }
    platform::LONG RegCloseKey(platform::HKEY key) override { return inner_.RegCloseKey(key); }
    platform::LONG RegEnumKeyExA(platform::HKEY key, platform::DWORD index,
                                 std::string* name) override {
        return inner_.RegEnumKeyExA(key, index, name);
    }
    platform::LONG RegEnumValueA(platform::HKEY key, platform::DWORD index, std::string* valueName,
                                 platform::DWORD* type, std::string* data) override {
        return inner_.RegEnumValueA(key, index, valueName, type, data);
    }
    std::string StoreProblem() const override { return inner_.StoreProblem(); }

  private:
    platform::Registry& inner_;
};

}  // namespace orvel::startup::testing
