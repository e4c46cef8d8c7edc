#include <string>
#include <variant>

#include "launcher/ApplicationCatalogue.h"
#include "settings/RegistryValues.h"

namespace orvel::launcher {

namespace {

std::string RegistryText(settings::RegistryContext& registry, const std::string& valueName,
                         const std::string& fallback) {
    auto value = settings::functGetRegistryValue(registry, platform::HKEY_LOCAL_MACHINE,
                                                 "Software\\Quarlen\\Corvane", valueName,
                                                 platform::REG_SZ, fallback);
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    return fallback;
}

}  // namespace

void BuildApplicationCatalogue(ApplicationCatalogue& catalogue, settings::RegistryContext& registry,
                               platform::FileSystem& fileSystem, const std::string& strOrvelPath,
                               const std::string& strCorvanePath) {
    const std::string editorPath = RegistryText(registry, "EditorPath", strCorvanePath + "bin/");
    const std::string editorFile = RegistryText(registry, "Editor", "Shaper.exe");
    FillApplicationRows(catalogue, strOrvelPath, editorPath, editorFile);
    CheckApplicationFiles(catalogue, fileSystem);
}

}  // namespace orvel::launcher
