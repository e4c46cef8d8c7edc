#pragma once

// The suite's twenty component server slots, as the console and the suite
// server both know them, and the classes served by the Setup Store program.

#include <array>
#include <cstdint>
#include <string_view>

namespace orvel::suite {

inline constexpr int kComponentSlots = 20;

// Start modes of a component server.
inline constexpr std::int16_t kStartOnDemand = 4;
inline constexpr std::int16_t kStartWithLocalConnection = 20;
inline constexpr std::int16_t kStartWithRemoteConnection = 21;

// Host kinds: which suite server object reaches the component.
inline constexpr std::int16_t kHostNone = 0;
inline constexpr std::int16_t kHostLocal = 1;
inline constexpr std::int16_t kHostRemote = 2;

struct ComponentDefinition {
    std::string_view classId2;
    std::string_view classId;
    std::string_view appId;
    std::string_view exeName;
    std::string_view displayName;
    std::int16_t hostKind = kHostNone;
    std::int16_t startMode = kStartOnDemand;
};

// The placeholder of an unused slot.
inline constexpr ComponentDefinition kUnusedComponent{
    "None", "None", "None", "None.exe", "Unused", kHostNone, kStartOnDemand};

// Slots 0..19; 16..19 are unused.
const std::array<ComponentDefinition, kComponentSlots>& ComponentDefinitions();

// True for a slot whose definition is not the placeholder.
bool IsUsedSlot(int slot);

// The classes served by the Setup Store program (slot 7); entry 0 is slot 7's
// own main class. Entry 22 stays empty.
inline constexpr int kConfigurationClassCount = 22;
const std::array<std::string_view, 23>& ConfigurationClassIds();

}  // namespace orvel::suite
