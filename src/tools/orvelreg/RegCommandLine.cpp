#include "tools/orvelreg/RegCommandLine.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/AsciiCase.h"

namespace orvel::tools {

using namespace platform;

std::string UsageText() {
    return R"(orvel-reg: reads and changes the Orvel registry store.

  orvel-reg query KEY [/v NAME | /ve] [/s]
      Shows the values of KEY and names its sub-keys; /s goes through the whole
      subtree; /v or /ve shows one value (with /s, in every key of the subtree).
  orvel-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
      Creates KEY (with every missing key above it) and, with /v or /ve, writes
      the value. TYPE is REG_SZ (the default), REG_EXPAND_SZ, REG_DWORD,
      REG_QWORD, REG_MULTI_SZ, REG_BINARY or REG_NONE. REG_DWORD and REG_QWORD
      data is decimal or 0x hex, REG_BINARY and REG_NONE data hex digits,
      REG_MULTI_SZ entries are separated by the two characters \0 (or by the
      one character given with /s).
      An existing value is replaced only with /f.
  orvel-reg delete KEY [/v NAME | /ve | /va] /f
      Deletes one value, the default value, every value of KEY (/va), or KEY
      with its whole subtree. Nothing is deleted without /f.
  orvel-reg export KEY FILE [/y] [/windows]
      Writes KEY and its subtree to FILE as .reg text in UTF-8; FILE - writes to
      the standard output. An existing FILE is replaced only with /y; a link at
      FILE is replaced itself, never followed. /windows writes the file for a
      Windows computer: UTF-16 with CR LF line ends, as Windows' editor writes.
  orvel-reg import FILE
      Applies a .reg file ("Windows Registry Editor Version 5.00" or "REGEDIT4",
      in UTF-8, ANSI or UTF-16 as Windows' editor writes it; its text is stored
      as UTF-8): [KEY] creates a key, "name"=... or @=... writes a value,
      [-KEY] deletes a key with its subtree, "name"=- deletes a value. A file
      with a syntax error changes nothing; otherwise it applies whole or not.

KEY is ROOT\path with ROOT one of HKLM, HKCR, HKEY_LOCAL_MACHINE and
HKEY_CLASSES_ROOT (HKCR is HKLM\SOFTWARE\Classes). Names are compared without
regard to letter case. Options may also start with '-'.

The store is $ORVEL_ROOT/registry.db when ORVEL_ROOT is set, otherwise
/var/lib/orvel/registry.db. Writing needs write access to the store file.

Exit status: 0 success, 1 failure (not found, refused, store problem), 2 usage error.
)";
}

namespace {

// Which options a command line gave, to check their combinations.
struct Given {
    bool v = false, ve = false, t = false, d = false, s = false;
};

constexpr std::pair<const char*, Verb> kVerbs[] = {{"query", Verb::Query},
                                                   {"add", Verb::Add},
                                                   {"delete", Verb::Delete},
                                                   {"export", Verb::Export},
                                                   {"import", Verb::Import}};

std::optional<Verb> ParseVerb(const std::string& verb) {
    for (const char* help : {"--help", "-h", "/?", "-?", "help"}) {
        if (EqualIgnoringAsciiCase(verb, help)) return Verb::Help;
    }
    for (const auto& [name, value] : kVerbs) {
        if (EqualIgnoringAsciiCase(verb, name)) return value;
    }
    return std::nullopt;
}

const char* VerbName(Verb verb) {
    for (const auto& [name, value] : kVerbs) {
        if (value == verb) return name;
    }
    return "help";
}

// The option a word names ("/v" for "-V"), or "" when it names none. Only the
// option names count as options: file paths start with '/' too.
std::string OptionName(const std::string& arg) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return {};
    static const char* const kOptions[] = {"/v", "/ve", "/va", "/s", "/t",     "/d",
                                           "/f", "/y",  "/?",  "/h", "/-help", "/windows"};
    const std::string_view name = std::string_view(arg).substr(1);
    const auto known =
        std::find_if(std::begin(kOptions), std::end(kOptions),
                     [&](const char* option) { return EqualIgnoringAsciiCase(name, option + 1); });
    return known != std::end(kOptions) ? *known : std::string();
}

// Reads option args[i] (and its value, moving i on). False with error on a fault.
bool ParseOption(const std::vector<std::string>& args, std::size_t& i, const std::string& option,
                 Command* command, Given* given, std::string* error) {
    auto takeValue = [&](std::string* value) {
        if (i + 1 >= args.size()) {
            *error = option + " needs a value after it";
            return false;
        }
        *value = args[++i];
        return true;
    };
    auto once = [&](bool* seen) {
        if (*seen) *error = option + " is given twice";
        return !std::exchange(*seen, true);
    };
    const Verb verb = command->verb;
    const bool keyVerb = verb != Verb::Import && verb != Verb::Export;
    std::string value;
    if (option == "/v" && keyVerb) {
        if (!once(&given->v) || !takeValue(&value)) return false;
        command->valueName = value;
    } else if (option == "/ve" && keyVerb) {
        if (!once(&given->ve)) return false;
        command->valueName = std::string();
    } else if (option == "/va" && verb == Verb::Delete) {
        return once(&command->allValues);
    } else if (option == "/s" && verb == Verb::Query) {
        return once(&command->subtree);
    } else if (option == "/s" && verb == Verb::Add) {
        if (!once(&given->s) || !takeValue(&value)) return false;
        if (value.size() != 1) *error = "/s takes one separator character";
        command->separator = value.empty() ? '\0' : value[0];
        return value.size() == 1;
    } else if (option == "/t" && verb == Verb::Add) {
        if (!once(&given->t) || !takeValue(&value)) return false;
        command->type = ParseTypeName(value);
        if (!command->type) *error = "unknown type \"" + value + "\" (" + TypeNameList() + ")";
        return command->type.has_value();
    } else if (option == "/d" && verb == Verb::Add) {
        if (!once(&given->d) || !takeValue(&value)) return false;
        command->data = value;
    } else if ((option == "/f" && (verb == Verb::Add || verb == Verb::Delete)) ||
               (option == "/y" && verb == Verb::Export)) {
        return once(&command->force);
    } else if (option == "/windows" && verb == Verb::Export) {
        return once(&command->windows);
    } else {
        *error = "option " + args[i] + " does not belong to " + VerbName(verb);
        return false;
    }
    return true;
}

bool CheckCombinations(const Command& command, const Given& given, std::string* error) {
    if (given.v && given.ve) {
        *error = "/v and /ve exclude each other";
    } else if (command.allValues && (given.v || given.ve)) {
        *error = "/va excludes /v and /ve";
    } else if ((given.t || given.d) && !command.valueName) {
        *error = "/t and /d need /v NAME or /ve";
    } else if (given.s && command.type.value_or(REG_SZ) != REG_MULTI_SZ) {
        *error = "/s applies to REG_MULTI_SZ data only";
    } else {
        return true;
    }
    return false;
}

// KEY FILE for export, FILE for import, KEY for the others.
bool TakePositionals(const std::vector<std::string>& positional, Command* command,
                     std::string* error) {
    const std::size_t wanted = command->verb == Verb::Export ? 2 : 1;
    if (positional.size() < wanted) {
        *error = command->verb == Verb::Import ? "import needs the FILE to read"
                 : command->verb == Verb::Export
                     ? "export needs KEY and FILE"
                     : std::string(VerbName(command->verb)) + " needs a KEY";
        return false;
    }
    if (positional.size() > wanted) {
        *error = "unexpected argument \"" + positional[wanted] + "\"";
        return false;
    }
    if (command->verb == Verb::Import) {
        command->file = positional[0];
        return true;
    }
    const std::optional<KeyName> key = ParseKeyName(positional[0]);
    if (!key) {
        *error = "\"" + positional[0] +
                 "\" is not a key: it must start with HKLM\\ or HKCR\\ (or the long forms) and "
                 "have no empty names";
        return false;
    }
    if (KeyDepth(key->root, key->path) > kMaxKeyDepth) {
        *error = "\"" + positional[0].substr(0, 60) + "...\": " + TooDeepText();
        return false;
    }
    command->key = *key;
    if (command->verb == Verb::Export) command->file = positional[1];
    return true;
}

}  // namespace

std::optional<Command> ParseCommandLine(const std::vector<std::string>& args, std::string* error) {
    Command command;
    if (args.empty()) {
        *error = "no operation given";
        return std::nullopt;
    }
    const std::optional<Verb> parsed = ParseVerb(args[0]);
    if (!parsed) {
        *error = "unknown operation \"" + args[0] + "\" (query, add, delete, export, import)";
        return std::nullopt;
    }
    command.verb = *parsed;
    if (command.verb == Verb::Help) return command;

    std::vector<std::string> positional;
    Given given;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string option = OptionName(args[i]);
        if (option.empty()) {
            if (args[i].size() > 1 && args[i][0] == '-') {
                *error = "unknown option " + args[i];
                return std::nullopt;
            }
            positional.push_back(args[i]);
        } else if (option == "/?" || option == "/-help" || option == "/h") {
            command.verb = Verb::Help;
            return command;
        } else if (!ParseOption(args, i, option, &command, &given, error)) {
            return std::nullopt;
        }
    }
    if (!CheckCombinations(command, given, error) ||
        !TakePositionals(positional, &command, error)) {
        return std::nullopt;
    }
    return command;
}

}  // namespace orvel::tools
