#pragma once

// The state codes of a component server slot, as GetComponentStatus answers
// them; codes 2 and 10 are derived by the console and never sent.

#include <cstdint>

namespace orvel::suite {

inline constexpr std::int32_t kStatusOffLine = 0;
inline constexpr std::int32_t kStatusRunning = 1;
inline constexpr std::int32_t kStatusRunningRemote = 2;  // derived by the console
inline constexpr std::int32_t kStatusUnsupported = -1;
inline constexpr std::int32_t kStatusDComError = 10;  // derived by the console
inline constexpr std::int32_t kStatusNotRegistered = 256;
inline constexpr std::int32_t kStatusRegistered = 257;
inline constexpr std::int32_t kStatusNotAvailable = 513;

}  // namespace orvel::suite
