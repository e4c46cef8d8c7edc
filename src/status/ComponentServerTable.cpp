#include "status/ComponentServerTable.h"

namespace orvel::status {

namespace {

ComponentServerEntry EntryFrom(const suite::ComponentDefinition& definition,
                               const std::string& strOrvelPath) {
    ComponentServerEntry entry;
    entry.strClassId2 = definition.classId2;
    entry.strClassId = definition.classId;
    entry.strAppId = definition.appId;
    entry.strFolder = strOrvelPath;
    entry.strExeName = definition.exeName;
    entry.strDisplayName = definition.displayName;
    entry.intStartMode = definition.startMode;
    entry.intHostKind = definition.hostKind;
    return entry;
}

}  // namespace

void FillComponentServerTable(ComponentServerTable& table, const std::string& strOrvelPath) {
    for (auto& entry : table) entry = EntryFrom(suite::kUnusedComponent, strOrvelPath);
    const auto& definitions = suite::ComponentDefinitions();
    for (std::size_t slot = 0; slot < table.size(); ++slot) {
        if (suite::IsUsedSlot(static_cast<int>(slot))) {
            table[slot] = EntryFrom(definitions[slot], strOrvelPath);
        }
    }
}

}  // namespace orvel::status
