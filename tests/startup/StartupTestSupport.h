#pragma once

// A registry for the start-up tests that records the calls made and can
// refuse every write as a user without administrator rights meets.

#include <string>
#include <vector>

#include "RegistryTestSupport.h"
#include "platform/Registry.h"

namespace orvel::startup::testing {

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
