#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvel::demo {

// Lays out (or brings up to date) the demo installation under root, copying
// the stand-in programs from programs. Returns "" on success, else what failed.
std::string LayOutDemoInstallation(const std::filesystem::path& root,
                                   const std::filesystem::path& programs,
                                   const std::optional<std::filesystem::path>& ini);

}  // namespace orvel::demo
