#include "tools/orvelreg/RegTool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/AsciiCase.h"

namespace orvel::tools {

using namespace platform;

namespace {

// Closes a key handle when it goes out of scope.
class OpenKey {
  public:
    explicit OpenKey(Registry& registry) : registry_(registry) {}
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() {
        if (key_ != 0) registry_.RegCloseKey(key_);
    }
    LONG Open(const KeyName& name, DWORD access) {
        return registry_.RegOpenKeyExA(name.root, name.path, 0, access, &key_);
    }
    LONG Create(const KeyName& name) {
        return registry_.RegCreateKeyA(name.root, name.path, &key_);
    }
    HKEY get() const { return key_; }

  private:
    Registry& registry_;
    HKEY key_ = 0;
};

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

void PrintValue(std::ostream& out, const RegValueEntry& value) {
    out << "    " << (value.name.empty() ? "(Default)" : value.name) << "    "
        << TypeName(value.type) << "    " << DisplayData(value.type, value.data) << "\n";
}

int Report(std::ostream& err, LONG result, const std::string& what) {
    err << "ERROR: " << what << ": " << ResultText(result) << "\n";
    return 1;
}

int Query(const Command& command, Registry& registry, std::ostream& out, std::ostream& err) {
    if (!command.subtree) {
        OpenKey key(registry);
        if (LONG result = key.Open(command.key, KEY_READ); result != ERROR_SUCCESS) {
            return Report(err, result, command.key.FullName());
        }
        out << "\n" << command.key.FullName() << "\n";
        if (command.valueName) {
            // Found by enumeration, so that the name shows as it was created.
            for (const RegValueEntry& value : Values(registry, key.get())) {
                if (SameName(value.name, *command.valueName)) {
                    PrintValue(out, value);
                    return 0;
                }
            }
            const std::string& name = *command.valueName;
            return Report(err, ERROR_FILE_NOT_FOUND,
                          command.key.FullName() + " value " +
                              (name.empty() ? "(Default)" : "\"" + name + "\""));
        }
        for (const RegValueEntry& value : Values(registry, key.get())) PrintValue(out, value);
        const std::vector<std::string> names = SubKeyNames(registry, key.get());
        if (!names.empty()) out << "\n";
        for (const std::string& name : names) out << command.key.Child(name).FullName() << "\n";
        return 0;
    }

    std::vector<RegKeyEntry> keys;
    if (LONG result = CollectTree(registry, command.key, &keys); result != ERROR_SUCCESS) {
        return Report(err, result, command.key.FullName());
    }
    int matches = 0;
    for (const RegKeyEntry& entry : keys) {
        if (!command.valueName) {
            out << "\n" << entry.key.FullName() << "\n";
            for (const RegValueEntry& value : entry.values) PrintValue(out, value);
            continue;
        }
        for (const RegValueEntry& value : entry.values) {
            if (!SameName(value.name, *command.valueName)) continue;
            out << "\n" << entry.key.FullName() << "\n";
            PrintValue(out, value);
            ++matches;
        }
    }
    if (command.valueName) {
        out << "\nEnd of search: " << matches << " match(es) found.\n";
        if (matches == 0) return 1;
    }
    return 0;
}

int Add(const Command& command, Registry& registry, std::ostream& out, std::ostream& err) {
    std::optional<std::string> data;
    const DWORD type = command.type.value_or(REG_SZ);
    if (command.valueName) {
        std::string error;
        data = EncodeData(type, command.data.value_or(std::string()), command.separator, &error);
        if (!data) {
            err << "ERROR: " << error << "\n";
            return 1;
        }
    }
    OpenKey key(registry);
    if (LONG result = key.Create(command.key); result != ERROR_SUCCESS) {
        return Report(err, result, "cannot create " + command.key.FullName());
    }
    if (command.valueName) {
        const std::string& name = *command.valueName;
        const std::string shown = name.empty() ? "(Default)" : "\"" + name + "\"";
        if (!command.force && registry.RegQueryValueExA(key.get(), name, nullptr, nullptr,
                                                        nullptr) == ERROR_SUCCESS) {
            err << "ERROR: the value " << shown << " of " << command.key.FullName()
                << " exists already; add /f to replace it\n";
            return 1;
        }
        const LONG result = registry.RegSetValueExA(
            key.get(), name, type, reinterpret_cast<const std::uint8_t*>(data->data()),
            static_cast<DWORD>(data->size()));
        if (result != ERROR_SUCCESS) {
            return Report(err, result, "cannot write " + shown + " of " + command.key.FullName());
        }
    }
    out << "The operation completed successfully.\n";
    return 0;
}

// Deletes a key and everything below it, children first.
LONG DeleteTree(Registry& registry, const KeyName& name) {
    std::vector<std::string> children;
    {
        OpenKey key(registry);
        if (LONG result = key.Open(name, KEY_ALL_ACCESS); result != ERROR_SUCCESS) return result;
        children = SubKeyNames(registry, key.get());
    }
    for (const std::string& child : children) {
        if (LONG result = DeleteTree(registry, name.Child(child)); result != ERROR_SUCCESS) {
            return result;
        }
    }
    return registry.RegDeleteKeyA(name.root, name.path);
}

int Delete(const Command& command, Registry& registry, std::ostream& out, std::ostream& err) {
    if (!command.force) {
        err << "ERROR: delete asks no questions: add /f to confirm that "
            << (command.valueName || command.allValues ? "the value(s) of " : "the key ")
            << command.key.FullName()
            << (command.valueName || command.allValues ? "" : " and its whole subtree")
            << " shall go\n";
        return 1;
    }
    if (!command.valueName && !command.allValues) {
        if (command.key.path.empty()) {
            err << "ERROR: the root key " << command.key.FullName() << " cannot be deleted\n";
            return 1;
        }
        if (LONG result = DeleteTree(registry, command.key); result != ERROR_SUCCESS) {
            return Report(err, result, "cannot delete " + command.key.FullName());
        }
        out << "The operation completed successfully.\n";
        return 0;
    }
    OpenKey key(registry);
    if (LONG result = key.Open(command.key, KEY_ALL_ACCESS); result != ERROR_SUCCESS) {
        return Report(err, result, command.key.FullName());
    }
    std::vector<std::string> names;
    if (command.allValues) {
        for (const RegValueEntry& value : Values(registry, key.get())) names.push_back(value.name);
    } else {
        names.push_back(*command.valueName);
    }
    for (const std::string& name : names) {
        if (LONG result = registry.RegDeleteValueA(key.get(), name); result != ERROR_SUCCESS) {
            return Report(err, result,
                          "cannot delete " + (name.empty() ? "(Default)" : "\"" + name + "\"") +
                              " of " + command.key.FullName());
        }
    }
    out << "The operation completed successfully.\n";
    return 0;
}

// Replaces path with text through a temporary file in the same folder.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        *error = std::string("cannot write beside ") + path + ": " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0644);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count <= 0) break;
        written += static_cast<std::size_t>(count);
    }
    const bool ok = written == text.size() && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error =
            std::string("cannot write ") + path + ": " + std::strerror(ok ? errno : savedErrno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

int Export(const Command& command, Registry& registry, std::ostream& out, std::ostream& err) {
    std::vector<RegKeyEntry> keys;
    if (LONG result = CollectTree(registry, command.key, &keys); result != ERROR_SUCCESS) {
        return Report(err, result, command.key.FullName());
    }
    for (const RegKeyEntry& entry : keys) {
        if (entry.key.path.find_first_of("\r\n") != std::string::npos) {
            err << "ERROR: the key name \"" << entry.key.FullName()
                << "\" holds a line break, which a .reg file cannot carry\n";
            return 1;
        }
    }
    const std::string text = FormatRegFile(keys);
    if (command.file == "-") {
        out << text;
        return out.good() ? 0 : 1;
    }
    if (!command.force && ::access(command.file.c_str(), F_OK) == 0) {
        err << "ERROR: " << command.file << " exists already; add /y to replace it\n";
        return 1;
    }
    std::string error;
    if (!WriteFileAtomically(command.file, text, &error)) {
        err << "ERROR: " << error << "\n";
        return 1;
    }
    out << "The operation completed successfully.\n";
    return 0;
}

int Import(const Command& command, Registry& registry, std::ostream& out, std::ostream& err) {
    std::ifstream in(command.file, std::ios::binary);
    if (!in) {
        err << "ERROR: cannot read " << command.file << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<RegKeyEntry> keys;
    std::string error;
    if (!ParseRegFile(text, &keys, &error)) {
        err << "ERROR: " << command.file << " " << error << "; nothing was imported\n";
        return 1;
    }
    for (const RegKeyEntry& entry : keys) {
        if (entry.remove) {
            if (entry.key.path.empty()) {
                err << "ERROR: the root key " << entry.key.FullName() << " cannot be deleted\n";
                return 1;
            }
            const LONG result = DeleteTree(registry, entry.key);
            if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
                return Report(err, result, "cannot delete " + entry.key.FullName());
            }
            continue;
        }
        OpenKey key(registry);
        if (LONG result = key.Create(entry.key); result != ERROR_SUCCESS) {
            return Report(err, result, "cannot create " + entry.key.FullName());
        }
        for (const RegValueEntry& value : entry.values) {
            const std::string shown = value.name.empty() ? "(Default)" : "\"" + value.name + "\"";
            LONG result = ERROR_SUCCESS;
            if (value.remove) {
                result = registry.RegDeleteValueA(key.get(), value.name);
                if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
            } else {
                result = registry.RegSetValueExA(
                    key.get(), value.name, value.type,
                    reinterpret_cast<const std::uint8_t*>(value.data.data()),
                    static_cast<DWORD>(value.data.size()));
            }
            if (result != ERROR_SUCCESS) {
                return Report(err, result, "cannot write " + shown + " of " + entry.key.FullName());
            }
        }
    }
    out << "The operation completed successfully.\n";
    return 0;
}

}  // namespace

std::string ResultText(LONG result) {
    switch (result) {
        case ERROR_FILE_NOT_FOUND:
            return "the registry key or value does not exist";
        case ERROR_ACCESS_DENIED:
            return "access is denied (writing needs write access to the registry store, or the "
                   "key still has sub-keys)";
        case ERROR_INVALID_PARAMETER:
            return "a key or value name is empty or too long (keys 255, values 16383 "
                   "characters)";
        case ERROR_BADDB:
            return "the registry store is damaged or unreadable";
        default:
            return "registry error " + std::to_string(result);
    }
}

LONG CollectTree(Registry& registry, const KeyName& name, std::vector<RegKeyEntry>* keys) {
    std::vector<std::string> children;
    {
        OpenKey key(registry);
        if (LONG result = key.Open(name, KEY_READ); result != ERROR_SUCCESS) return result;
        keys->push_back(RegKeyEntry{name, false, Values(registry, key.get())});
        children = SubKeyNames(registry, key.get());
    }
    for (const std::string& child : children) {
        const LONG result = CollectTree(registry, name.Child(child), keys);
        // A key another program deleted meanwhile is simply no longer there.
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return result;
    }
    return ERROR_SUCCESS;
}

int RunCommand(const Command& command, Registry& registry, std::ostream& out, std::ostream& err) {
    switch (command.verb) {
        case Verb::Help:
            out << UsageText();
            return 0;
        case Verb::Query:
            return Query(command, registry, out, err);
        case Verb::Add:
            return Add(command, registry, out, err);
        case Verb::Delete:
            return Delete(command, registry, out, err);
        case Verb::Export:
            return Export(command, registry, out, err);
        case Verb::Import:
            return Import(command, registry, out, err);
    }
    return 1;
}

}  // namespace orvel::tools
