#include "DemoInstallation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <system_error>

#include "platform/FileReplace.h"
#include "platform/InstallRoot.h"
#include "platform/Registry.h"
#include "platform/RegistryKey.h"
#include "platform/linux/SqliteRegistry.h"
#include "suite/ComponentCatalog.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::demo {

namespace fs = std::filesystem;
using namespace orvel::platform;

namespace {

// The program files of the suite's tools, as the console's catalogue starts
// them; the tool stand-in opens the matching window title for each name.
constexpr std::array<std::string_view, 14> kSuiteToolFiles{
    "DeskMain.exe",     "PortSetEdit.exe", "JournalView.exe", "Recorder.exe",    "MatrixPanel.exe",
    "TrackWatch.exe",   "SoftDeck.exe",    "CardHealth.exe",  "LockBreaker.exe", "ConfLoad.exe",
    "DirectSwitch.exe", "Rewire.exe",      "StateKeeper.exe", "LinkCheck.exe"};
// The router system's configuration editor lives in its BIN folder.
constexpr std::string_view kEditorFile = "Shaper.exe";

constexpr std::string_view kSuiteKey = "SOFTWARE\\Quarlen\\Corvane Network Suite\\1.00.000";
constexpr std::string_view kCorvanePathKey = "SOFTWARE\\Quarlen\\Corvane\\Path";
// Where the console's about box finds the system-information program.
constexpr std::string_view kSysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";

// The machine's system-information program (Debian's hardinfo), found on PATH.
std::optional<fs::path> FindSystemInformationProgram() {
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const auto colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view{} : folders.substr(colon + 1);
        if (folder.empty() || folder.front() != '/') continue;
        const fs::path candidate = fs::path(folder) / "hardinfo";
        if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

// Replaces the copy whole, so a stand-in that is running from the old copy
// keeps running and the new copy is never seen half written. The copy keeps
// the original's mode (the stand-ins are programs).
std::string InstallCopy(const fs::path& from, const fs::path& to) {
    const std::optional<std::string> content = platform::ReadWholeFile(from);
    struct stat info {};
    std::error_code error;
    if (!content || ::stat(from.c_str(), &info) != 0) {
        error.assign(errno, std::generic_category());
    } else {
        error = platform::ReplaceFile(to, *content, {.mode = info.st_mode & 0777, .group = {}});
    }
    if (error)
        return "cannot copy " + from.string() + " to " + to.string() + ": " + error.message();
    return {};
}

class RegistryWriter {
  public:
    explicit RegistryWriter(Registry& registry) : registry_(registry) {}

    bool KeyExists(HKEY root, std::string_view key) {
        RegistryKey handle(registry_);
        return handle.Open(root, key, KEY_READ) == ERROR_SUCCESS;
    }

    bool ValueExists(HKEY root, std::string_view key, std::string_view name) {
        RegistryValue value;
        return ReadRegistryValue(registry_, root, key, name, &value) == ERROR_SUCCESS;
    }

    bool SetString(HKEY root, std::string_view key, std::string_view name, std::string_view text) {
        std::string data(text);
        return Set(root, key, name, REG_SZ, reinterpret_cast<const std::uint8_t*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
    }

    bool SetDword(HKEY root, std::string_view key, std::string_view name, std::uint32_t value) {
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
        return Set(root, key, name, REG_DWORD, bytes, 4);
    }

    bool CreateKey(HKEY root, std::string_view key) {
        RegistryKey handle(registry_);
        return handle.Create(root, key) == ERROR_SUCCESS;
    }

  private:
    bool Set(HKEY root, std::string_view key, std::string_view name, DWORD type,
             const std::uint8_t* data, DWORD size) {
        RegistryKey handle(registry_);
        if (handle.Create(root, key) != ERROR_SUCCESS) return false;
        return registry_.RegSetValueExA(handle.get(), name, type, data, size) == ERROR_SUCCESS;
    }

    Registry& registry_;
};

// Registers a component class to start here, unless a registration for this
// class already exists (the console's role setting moves it between the
// local and the remote key, and that choice is kept).
bool RegisterComponentClass(RegistryWriter& writer, std::string_view classId,
                            const std::string& program) {
    std::string key = "CLSID\\" + std::string(classId);
    if (writer.KeyExists(HKEY_CLASSES_ROOT, key + "\\LocalServer32") ||
        writer.KeyExists(HKEY_CLASSES_ROOT, key + "\\_LocalServer32")) {
        return true;
    }
    return writer.SetString(HKEY_CLASSES_ROOT, key + "\\LocalServer32", "", program);
}

// The demo's folders, each program copied in place, and the router system's
// CORVANE.INI (kept once there); empty when all went well, else the problem.
std::string InstallDemoFiles(const fs::path& root, const fs::path& programs,
                             const std::optional<fs::path>& ini) {
    const fs::path suite = root / "suite";
    const fs::path corvaneBin = root / "corvane" / "BIN";
    const fs::path console = root / "console";
    std::error_code error;
    for (const fs::path& folder : {suite, corvaneBin, console, root / "run"}) {
        fs::create_directories(folder, error);
        if (error) return "cannot create " + folder.string() + ": " + error.message();
    }

    const fs::path component = programs / "orvel-demo-component";
    const fs::path tool = programs / "orvel-demo-tool";
    for (const auto& definition : suite::ComponentDefinitions()) {
        if (definition.classId == suite::kUnusedComponent.classId) continue;
        if (auto problem = InstallCopy(component, suite / definition.exeName); !problem.empty()) {
            return problem;
        }
    }
    for (std::string_view file : kSuiteToolFiles) {
        if (auto problem = InstallCopy(tool, suite / file); !problem.empty()) return problem;
    }
    if (auto problem = InstallCopy(tool, corvaneBin / kEditorFile); !problem.empty()) {
        return problem;
    }
    if (auto problem = InstallCopy(programs / "Orvel_Console", console / "Orvel_Console");
        !problem.empty()) {
        return problem;
    }

    const fs::path iniFile = corvaneBin / "CORVANE.INI";
    if (ini && !fs::exists(iniFile)) {
        fs::copy_file(*ini, iniFile, error);
        if (error) return "cannot copy " + ini->string() + ": " + error.message();
    }
    return {};
}

// Every component class registered to start from the suite folder; the
// Setup Store program serves every configuration class.
bool RegisterComponents(RegistryWriter& writer, const fs::path& suite) {
    bool written = true;
    for (const auto& definition : suite::ComponentDefinitions()) {
        if (definition.classId == suite::kUnusedComponent.classId) continue;
        const std::string program = (suite / definition.exeName).string();
        written = written && RegisterComponentClass(writer, definition.classId, program) &&
                  RegisterComponentClass(writer, definition.classId2, program);
    }
    const std::string setupStore = (suite / suite::ComponentDefinitions()[7].exeName).string();
    for (int j = 0; j < suite::kConfigurationClassCount; ++j) {
        written =
            written &&
            RegisterComponentClass(
                writer, suite::ConfigurationClassIds()[static_cast<std::size_t>(j)], setupStore);
    }
    return written;
}

// An active configuration set, so that the tools have something to work on,
// and the router network settings matching the demo CORVANE.INI; both kept
// once set.
bool WriteDemoDefaults(RegistryWriter& writer) {
    bool written = true;
    const std::string activeSetKey(suite::kActiveSetKey);
    if (!writer.ValueExists(HKEY_LOCAL_MACHINE, activeSetKey, suite::kActiveSetValue)) {
        written = writer.SetString(HKEY_LOCAL_MACHINE, activeSetKey, suite::kActiveSetValue,
                                   "Demo Studio A");
    }
    constexpr std::string_view kNetworkKey = "SOFTWARE\\Quarlen\\Corvane\\Network";
    if (!writer.KeyExists(HKEY_LOCAL_MACHINE, kNetworkKey)) {
        written =
            written &&
            writer.SetString(HKEY_LOCAL_MACHINE, kNetworkKey, "Base IP Address", "192.168.1.0") &&
            writer.SetDword(HKEY_LOCAL_MACHINE, kNetworkKey, "Communication Port", 8000) &&
            writer.SetDword(HKEY_LOCAL_MACHINE, kNetworkKey, "Reboot Port", 8001) &&
            writer.SetDword(HKEY_LOCAL_MACHINE, kNetworkKey, "Router 1", 0xFFFFFF00u) &&
            writer.SetDword(HKEY_LOCAL_MACHINE, kNetworkKey, "Router 2", 0xC0A80101u) &&
            writer.SetDword(HKEY_LOCAL_MACHINE, kNetworkKey, "Multicast Interface", 0) &&
            writer.SetDword(HKEY_LOCAL_MACHINE, kNetworkKey, "Multicast Interface Secondary", 0);
    }
    return written;
}

}  // namespace

std::string LayOutDemoInstallation(const fs::path& root, const fs::path& programs,
                                   const std::optional<fs::path>& ini) {
    if (auto problem = InstallDemoFiles(root, programs, ini); !problem.empty()) return problem;

    InstallRoot installRoot = LocateInstallRoot();
    std::unique_ptr<Registry> registry = OpenRegistryStore(installRoot);
    if (!registry->StoreProblem().empty()) return registry->StoreProblem();
    RegistryWriter writer(*registry);

    const fs::path suite = root / "suite";
    bool written =
        writer.SetString(HKEY_LOCAL_MACHINE, kSuiteKey, "OrvelPATH", suite.string()) &&
        writer.SetString(HKEY_LOCAL_MACHINE, kCorvanePathKey, "Root", (root / "corvane").string());
    written = written && RegisterComponents(writer, suite) && WriteDemoDefaults(writer);
    if (const auto sysInfo = FindSystemInformationProgram()) {
        written =
            written && writer.SetString(HKEY_LOCAL_MACHINE, kSysInfoKey, "PATH", sysInfo->string());
    }
    if (!written) return "cannot write the registry store " + installRoot.registryStore;
    return {};
}

}  // namespace orvel::demo
