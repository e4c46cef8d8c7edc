#include "tools/orvelreg/RegTool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/FileReplace.h"
#include "platform/RegistryKey.h"
#include "platform/UniqueFd.h"

#include "platform/AsciiCase.h"

namespace orvel::tools {

using namespace platform;

namespace {

constexpr const char* kProtectedKeys =
    "the hive roots, SOFTWARE, SOFTWARE\\Classes and its CLSID and AppID keys are never deleted";

std::vector<std::string> SubKeyNames(Registry& registry, HKEY key) {
    std::vector<std::string> names;
    std::string name;
    for (DWORD index = 0; registry.RegEnumKeyExA(key, index, &name) == ERROR_SUCCESS; ++index) {
        names.push_back(name);
    }
    return names;
}

std::vector<RegValueEntry> Values(Registry& registry, HKEY key) {
    std::vector<RegValueEntry> values;
    RegValueEntry value;
    for (DWORD index = 0;
         registry.RegEnumValueA(key, index, &value.name, &value.type, &value.data) == ERROR_SUCCESS;
         ++index) {
        values.push_back(value);
    }
    return values;
}

bool SameName(std::string_view a, std::string_view b) {
    return platform::EqualIgnoringAsciiCase(a, b);
}

std::string Shown(const std::string& valueName) {
    return valueName.empty() ? "(Default)" : "\"" + valueName + "\"";
}

// A system error as an administrator reads it; a full disk in Windows' words.
std::string SystemText(int error) {
    return error == ENOSPC ? "There is not enough space on the disk." : std::strerror(error);
}

void PrintValue(std::ostream& out, const RegValueEntry& value) {
    out << "    " << (value.name.empty() ? "(Default)" : value.name) << "    "
        << TypeName(value.type) << "    " << DisplayData(value.type, value.data) << "\n";
}

// What every operation needs besides the command: the store and where to speak.
struct Tool {
    Registry& registry;
    std::ostream& out;
    std::ostream& err;
    const std::string& storePath;

    int Report(LONG result, const std::string& what) const {
        if (result == kKeyTooDeep) {
            err << "ERROR: " << what << " holds keys deeper than " << kMaxKeyDepth
                << " levels, more than the registry allows\n";
        } else {
            err << "ERROR: " << what << ": " << ResultText(result, storePath) << "\n";
        }
        return 1;
    }
    int RefuseProtected(const std::string& where, const KeyName& key) const {
        err << "ERROR: " << where << "Access is denied. " << key.FullName()
            << " is protected: " << kProtectedKeys << ".\n";
        return 1;
    }
    int Done() const {
        out << "The operation completed successfully.\n";
        return 0;
    }
};

LONG CollectTreeNow(Registry& registry, const KeyName& name, std::vector<RegKeyEntry>* keys,
                    std::vector<std::string>* skipped);

// Names the keys a listing or an export left out.
void WarnSkipped(const std::vector<std::string>& skipped, std::ostream& err) {
    for (const std::string& key : skipped) {
        err << "WARNING: " << key << " and its sub-keys were left out: "
            << "a key without a name or deeper than " << kMaxKeyDepth
            << " levels cannot be written to a .reg file or made again\n";
    }
}

int QueryOneKey(const Command& command, const Tool& tool) {
    RegistryKey key(tool.registry);
    if (LONG result = key.Open(command.key.root, command.key.path, KEY_READ);
        result != ERROR_SUCCESS) {
        return tool.Report(result, command.key.FullName());
    }
    if (command.valueName) {
        // Found by its name, shown as it was created.
        RegValueEntry value;
        if (LONG result = tool.registry.RegFindValueA(key.get(), *command.valueName, &value.name,
                                                      &value.type, &value.data);
            result != ERROR_SUCCESS) {
            return tool.Report(result,
                               command.key.FullName() + " value " + Shown(*command.valueName));
        }
        tool.out << "\n" << command.key.FullName() << "\n";
        PrintValue(tool.out, value);
        return 0;
    }
    // Read in one batch, as an export is: one state of the key, its locks taken once.
    std::vector<RegValueEntry> values;
    std::vector<std::string> names;
    tool.registry.RegApplyBatch([&] {
        values = Values(tool.registry, key.get());
        names = SubKeyNames(tool.registry, key.get());
        return ERROR_SUCCESS;
    });
    tool.out << "\n" << command.key.FullName() << "\n";
    for (const RegValueEntry& value : values) PrintValue(tool.out, value);
    if (!names.empty()) tool.out << "\n";
    for (const std::string& name : names) {
        tool.out << command.key.Child(name).FullName() << "\n";
    }
    return 0;
}

// The tree under the command's key, with a warning for each key left out;
// non-zero (the exit code) when the tree cannot be read.
int CollectReported(const Command& command, const Tool& tool, std::vector<RegKeyEntry>* keys) {
    std::vector<std::string> skipped;
    if (LONG result = CollectTree(tool.registry, command.key, keys, &skipped);
        result != ERROR_SUCCESS) {
        return tool.Report(result, command.key.FullName());
    }
    WarnSkipped(skipped, tool.err);
    return 0;
}

int Query(const Command& command, const Tool& tool) {
    if (!command.subtree) return QueryOneKey(command, tool);
    std::vector<RegKeyEntry> keys;
    if (const int failed = CollectReported(command, tool, &keys); failed != 0) return failed;
    int matches = 0;
    for (const RegKeyEntry& entry : keys) {
        if (!command.valueName) {
            tool.out << "\n" << entry.key.FullName() << "\n";
            for (const RegValueEntry& value : entry.values) PrintValue(tool.out, value);
            continue;
        }
        for (const RegValueEntry& value : entry.values) {
            if (!SameName(value.name, *command.valueName)) continue;
            tool.out << "\n" << entry.key.FullName() << "\n";
            PrintValue(tool.out, value);
            ++matches;
        }
    }
    if (command.valueName) {
        tool.out << "\nEnd of search: " << matches << " match(es) found.\n";
        if (matches == 0) return 1;
    }
    return 0;
}

int Add(const Command& command, const Tool& tool) {
    std::optional<std::string> data;
    const DWORD type = command.type.value_or(REG_SZ);
    if (command.valueName) {
        std::string error;
        data = EncodeData(type, command.data.value_or(std::string()), command.separator, &error);
        if (!data) {
            tool.err << "ERROR: " << error << "\n";
            return 1;
        }
    }
    RegistryKey key(tool.registry);
    if (LONG result = key.Create(command.key.root, command.key.path); result != ERROR_SUCCESS) {
        return tool.Report(result, "cannot create " + command.key.FullName());
    }
    if (command.valueName) {
        const std::string& name = *command.valueName;
        if (!command.force && tool.registry.RegQueryValueExA(key.get(), name, nullptr, nullptr,
                                                             nullptr) == ERROR_SUCCESS) {
            tool.err << "ERROR: the value " << Shown(name) << " of " << command.key.FullName()
                     << " exists already; add /f to replace it\n";
            return 1;
        }
        const LONG result = tool.registry.RegSetValueExA(
            key.get(), name, type, reinterpret_cast<const std::uint8_t*>(data->data()),
            static_cast<DWORD>(data->size()));
        if (result != ERROR_SUCCESS) {
            return tool.Report(result,
                               "cannot write " + Shown(name) + " of " + command.key.FullName());
        }
    }
    return tool.Done();
}

// Deletes a key and everything below it, as one write of the store.
LONG DeleteTree(Registry& registry, const KeyName& name) {
    return registry.RegDeleteTreeA(name.root, name.path);
}

int DeleteValues(const Command& command, const Tool& tool) {
    RegistryKey key(tool.registry);
    if (LONG result = key.Open(command.key.root, command.key.path, KEY_ALL_ACCESS);
        result != ERROR_SUCCESS) {
        return tool.Report(result, command.key.FullName());
    }
    std::vector<std::string> names;
    if (command.allValues) {
        for (const RegValueEntry& value : Values(tool.registry, key.get())) {
            names.push_back(value.name);
        }
    } else {
        names.push_back(*command.valueName);
    }
    // The value that failed; none when the batch itself could not start.
    const std::string* failed = nullptr;
    const LONG result = tool.registry.RegApplyBatch([&] {
        for (const std::string& name : names) {
            const LONG deleted = tool.registry.RegDeleteValueA(key.get(), name);
            if (deleted != ERROR_SUCCESS) {
                failed = &name;
                return deleted;
            }
        }
        return ERROR_SUCCESS;
    });
    if (result != ERROR_SUCCESS) {
        const std::string what = failed != nullptr   ? Shown(*failed)
                                 : command.allValues ? std::string("the values")
                                                     : Shown(*command.valueName);
        return tool.Report(result, "cannot delete " + what + " of " + command.key.FullName());
    }
    return tool.Done();
}

int Delete(const Command& command, const Tool& tool) {
    const bool values = command.valueName || command.allValues;
    if (!command.force) {
        tool.err << "ERROR: delete asks no questions: add /f to confirm that "
                 << (values ? "the value(s) of " : "the key ") << command.key.FullName()
                 << (values ? "" : " and its whole subtree") << " shall go\n";
        return 1;
    }
    if (values) return DeleteValues(command, tool);
    if (IsProtectedKey(command.key.root, command.key.path)) {
        return tool.RefuseProtected("", command.key);
    }
    // Deleted whole or not at all.
    const LONG result =
        tool.registry.RegApplyBatch([&] { return DeleteTree(tool.registry, command.key); });
    if (result != ERROR_SUCCESS)
        return tool.Report(result, "cannot delete " + command.key.FullName());
    return tool.Done();
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether path is the registry store or its -wal or -shm file, however
// reached (another spelling, a link, a hard link, a linked folder): by device
// and inode, and for a file not there yet by its folder and name.
bool IsStoreFile(const std::string& path, const std::string& storePath) {
    if (storePath.empty()) return false;
    struct stat own {
    }, followed{}, store{}, folder{}, storeFolder{};
    const bool ownSeen = ::lstat(path.c_str(), &own) == 0;
    const bool followedSeen = ::stat(path.c_str(), &followed) == 0;
    const bool sameFolder = ::stat(FolderOf(path).c_str(), &folder) == 0 &&
                            ::stat(FolderOf(storePath).c_str(), &storeFolder) == 0 &&
                            SameFile(folder, storeFolder);
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string storeName = storePath.substr(storePath.rfind('/') + 1);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string file = storePath + suffix;
        if (sameFolder && name == storeName + suffix) return true;
        if (::stat(file.c_str(), &store) != 0) continue;
        if ((ownSeen && SameFile(own, store)) || (followedSeen && SameFile(followed, store))) {
            return true;
        }
    }
    return false;
}

// The file an export may replace: never the store; a link is replaced itself
// and never followed (its target could be any file of the system); otherwise
// only a regular file, and only with /y.
bool CheckExportTarget(const std::string& path, bool replace, const std::string& storePath,
                       std::string* error) {
    if (IsStoreFile(path, storePath)) {
        *error = path + " is the registry store " + storePath +
                 " or one of its files; an export never replaces them";
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return true;
        *error = "cannot write " + path + ": " + SystemText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        *error = path +
                 " is not a regular file (a folder, device, pipe or socket); an export "
                 "writes files only";
        return false;
    }
    if (!replace) {
        *error = path + " exists already; add /y to replace it";
        return false;
    }
    return true;
}

int WriteToStandardOutput(const std::string& text, const Tool& tool) {
    errno = 0;
    tool.out << text;
    tool.out.flush();
    if (tool.out.good()) return 0;
    const int error = errno;
    tool.err << "ERROR: the export could not all be written to the standard output"
             << (error != 0 ? ": " + SystemText(error) : std::string()) << "\n";
    return 1;
}

int Export(const Command& command, const Tool& tool) {
    std::vector<RegKeyEntry> keys;
    if (const int failed = CollectReported(command, tool, &keys); failed != 0) return failed;
    std::string error;
    const std::optional<std::string> text =
        FormatRegFile(keys, command.windows ? RegFileForm::Windows : RegFileForm::Utf8, &error);
    if (!text) {
        tool.err << "ERROR: " << error << "; nothing was written\n";
        return 1;
    }
    if (command.file == "-") return WriteToStandardOutput(*text, tool);
    if (!CheckExportTarget(command.file, command.force, tool.storePath, &error)) {
        tool.err << "ERROR: " << error << "\n";
        return 1;
    }
    if (const std::error_code failure = ReplaceFile(command.file, *text, {0644, std::nullopt})) {
        tool.err << "ERROR: cannot write " << command.file << ": " << SystemText(failure.value())
                 << "\n";
        return 1;
    }
    return tool.Done();
}

// Writes one key of an import: [-KEY] deletes it with its subtree, [KEY] makes it
// and writes or deletes its values. failedLine: the line of the failing entry.
LONG ApplyEntry(Registry& registry, const RegKeyEntry& entry, int* failedLine,
                std::string* failed) {
    *failedLine = entry.line;
    if (entry.remove) {
        *failed = "cannot delete " + entry.key.FullName();
        const LONG result = DeleteTree(registry, entry.key);
        return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
    }
    RegistryKey key(registry);
    *failed = "cannot create " + entry.key.FullName();
    if (LONG result = key.Create(entry.key.root, entry.key.path); result != ERROR_SUCCESS) {
        return result;
    }
    for (const RegValueEntry& value : entry.values) {
        *failedLine = value.line;
        *failed = "cannot write " + Shown(value.name) + " of " + entry.key.FullName();
        LONG result = ERROR_SUCCESS;
        if (value.remove) {
            result = registry.RegDeleteValueA(key.get(), value.name);
            if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
        } else {
            result =
                registry.RegSetValueExA(key.get(), value.name, value.type,
                                        reinterpret_cast<const std::uint8_t*>(value.data.data()),
                                        static_cast<DWORD>(value.data.size()));
        }
        if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
}

int Import(const Command& command, const Tool& tool) {
    std::string text, error;
    std::vector<RegKeyEntry> keys;
    if (!ReadImportFile(command.file, &text, &error)) {
        tool.err << "ERROR: " << error << "; nothing was imported\n";
        return 1;
    }
    if (!ParseRegFile(text, &keys, &error)) {
        tool.err << "ERROR: " << command.file << " " << error << "; nothing was imported\n";
        return 1;
    }
    for (const RegKeyEntry& entry : keys) {
        if (entry.remove && IsProtectedKey(entry.key.root, entry.key.path)) {
            return tool.RefuseProtected(command.file + " line " + std::to_string(entry.line) + ": ",
                                        entry.key);
        }
    }
    // The whole file is one write: it applies whole or leaves the store as it was.
    int failedLine = 0;
    std::string failed;
    const LONG result = tool.registry.RegApplyBatch([&] {
        for (const RegKeyEntry& entry : keys) {
            if (LONG applied = ApplyEntry(tool.registry, entry, &failedLine, &failed);
                applied != ERROR_SUCCESS) {
                return applied;
            }
        }
        return ERROR_SUCCESS;
    });
    if (result != ERROR_SUCCESS) {
        // No line when the batch itself could not start (a busy store).
        tool.err << "ERROR: " << command.file
                 << (failedLine > 0 ? " line " + std::to_string(failedLine) + ": " + failed : "")
                 << ": " << ResultText(result, tool.storePath) << "; nothing was imported\n";
        return 1;
    }
    return tool.Done();
}

}  // namespace

bool ReadImportFile(const std::string& path, std::string* text, std::string* error) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        *error = "cannot read " + path + ": " + SystemText(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        *error = "cannot read " + path + ": " + SystemText(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        *error = path + " is a folder, not a .reg file";
        return false;
    }
    const bool regular = S_ISREG(info.st_mode);
    if (regular) text->reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    int failure = 0;
    while (regular || text->size() <= kMaxImportBytes) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) failure = errno;
        if (count <= 0) break;
        text->append(buffer, static_cast<std::size_t>(count));
    }
    if (failure != 0) {
        *error = "cannot read " + path + ": " + SystemText(failure);
        return false;
    }
    if (!regular && text->size() > kMaxImportBytes) {
        *error = path + " holds more than " + std::to_string(kMaxImportBytes >> 20) +
                 " MB, the most one import reads from a pipe or device; save it to a file and "
                 "import that";
        return false;
    }
    return true;
}

std::string ResultText(LONG result, const std::string& storePath) {
    const std::string store = storePath.empty() ? "" : " (registry store " + storePath + ")";
    switch (result) {
        case ERROR_FILE_NOT_FOUND:
            return "the registry key or value does not exist";
        case ERROR_ACCESS_DENIED:
            return "Access is denied. (Writing needs write access to the registry store" +
                   (storePath.empty() ? "" : " " + storePath) +
                   "; a key with sub-keys or a protected key is not deleted.)";
        case ERROR_INVALID_PARAMETER:
            return "a key or value name is empty or too long (keys 255, values 16383 "
                   "characters), or the key would lie deeper than " +
                   std::to_string(kMaxKeyDepth) + " levels";
        case ERROR_DISK_FULL:
            return "There is not enough space on the disk." + store;
        case ERROR_BUSY:
            return "The requested resource is in use. (Another program kept the registry store "
                   "busy" +
                   (storePath.empty() ? "" : " " + storePath) + ".)";
        case ERROR_BADDB:
            return "the registry store" + (storePath.empty() ? "" : " " + storePath) +
                   " is damaged or unreadable";
        case kKeyTooDeep:
            return TooDeepText();
        default:
            return "registry error " + std::to_string(result) + store;
    }
}

LONG CollectTree(Registry& registry, const KeyName& name, std::vector<RegKeyEntry>* keys,
                 std::vector<std::string>* skipped) {
    std::vector<std::string> ignored;
    if (skipped == nullptr) skipped = &ignored;
    // One batch that writes nothing: the tree as it stands at one moment.
    return registry.RegApplyBatch([&] {
        const std::size_t start = keys->size();
        const std::size_t skippedStart = skipped->size();
        const LONG result = CollectTreeNow(registry, name, keys, skipped);
        if (result != ERROR_SUCCESS) {
            keys->resize(start);
            skipped->resize(skippedStart);
        }
        return result;
    });
}

namespace {

LONG CollectTreeNow(Registry& registry, const KeyName& name, std::vector<RegKeyEntry>* keys,
                    std::vector<std::string>* skipped) {
    // Depth first with the open parents on a stack: each key is opened once, from
    // its parent's handle, and listed before its children.
    struct Level {
        RegistryKey key;
        std::size_t entry;  // the key's place in keys
        DWORD next = 0;     // index of the next sub-key to visit
    };
    std::vector<Level> levels;
    levels.push_back({RegistryKey(registry), keys->size()});
    if (LONG result = levels.back().key.Open(name.root, name.path, KEY_READ);
        result != ERROR_SUCCESS) {
        return result;
    }
    const int baseDepth = KeyDepth(name.root, name.path);
    keys->push_back(RegKeyEntry{name, false, Values(registry, levels.back().key.get())});
    while (!levels.empty()) {
        Level& top = levels.back();
        std::string child;
        LONG result = registry.RegEnumKeyExA(top.key.get(), top.next++, &child);
        if (result == ERROR_NO_MORE_ITEMS) {
            levels.pop_back();
            continue;
        }
        if (result != ERROR_SUCCESS) return result;
        // What no .reg file can bring back is left out, with its subtree, and
        // named: a key without a name (another program made it) or one deeper
        // than the registry allows.
        if (child.empty() || baseDepth + static_cast<int>(levels.size()) > kMaxKeyDepth) {
            skipped->push_back((*keys)[top.entry].key.FullName() + "\\" + child);
            continue;
        }
        RegistryKey childKey(registry);
        result = childKey.Open(top.key.get(), child, KEY_READ);
        // A key another program deleted meanwhile is simply no longer there.
        if (result == ERROR_FILE_NOT_FOUND) continue;
        if (result != ERROR_SUCCESS) return result;
        KeyName childName = (*keys)[top.entry].key.Child(child);
        keys->push_back(RegKeyEntry{std::move(childName), false, Values(registry, childKey.get())});
        levels.push_back({std::move(childKey), keys->size() - 1});
    }
    return ERROR_SUCCESS;
}

}  // namespace

int RunCommand(const Command& command, Registry& registry, std::ostream& out, std::ostream& err,
               const std::string& storePath) {
    const Tool tool{registry, out, err, storePath};
    switch (command.verb) {
        case Verb::Help:
            out << UsageText();
            return 0;
        case Verb::Query:
            return Query(command, tool);
        case Verb::Add:
            return Add(command, tool);
        case Verb::Delete:
            return Delete(command, tool);
        case Verb::Export:
            return Export(command, tool);
        case Verb::Import:
            return Import(command, tool);
    }
    return 1;
}

}  // namespace orvel::tools
