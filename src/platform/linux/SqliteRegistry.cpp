#include "platform/linux/SqliteRegistry.h"

#include <sqlite3.h>

#include <cstring>
#include <functional>
#include <mutex>

#include "platform/linux/StoreCursor.h"
#include "platform/linux/StoreFile.h"
#include "platform/linux/StoreKeys.h"
#include "platform/linux/StoreStatements.h"
#include "platform/linux/StoreTransactions.h"

namespace orvel::platform {

using store::EnumQueries;
using store::Handle;
using store::Sql;
using store::StoreState;

namespace {

constexpr std::size_t kMaxValueNameLength = 16383;

// Access bits that ask for more than reading: set value, create sub-key, create
// link, delete, write DAC, write owner, generic write, generic all.
constexpr DWORD kWriteAccessBits = 0x0002u | 0x0004u | 0x0020u | 0x00010000u | 0x00040000u |
                                   0x00080000u | 0x40000000u | 0x10000000u;

constexpr EnumQueries kSubKeys{Sql::EnumKeyAfter, Sql::EnumKey};
constexpr EnumQueries kValues{Sql::EnumValueAfter, Sql::EnumValue};

// What a delete takes away: one key without sub-keys, a key with its whole
// tree, or everything below a key but the key itself.
enum class Removal { Key, Tree, Content };

}  // namespace

// The registry operations on one store: its file, statements, transactions
// and keys, each kept by a part of its own.
class SqliteRegistry::Store {
  public:
    Store(const std::string& path, StoreAccess access)
        : file(path, access, sql), transactions(file, sql), keys(sql, transactions) {}

    std::recursive_mutex mutex;
    store::Statements sql;  // before file, which finalizes them before closing
    store::StoreFile file;
    store::Transactions transactions;
    store::KeyTable keys;

    LONG Open(HKEY key, std::string_view subKey, DWORD access, HKEY* result);
    LONG Create(HKEY key, std::string_view subKey, HKEY* result);
    // Finds a value; read takes the row (type, data, name) and gives the answer.
    LONG FindValue(HKEY key, std::string_view name, const std::function<LONG(sqlite3_stmt*)>& read);
    LONG Set(HKEY key, std::string_view name, DWORD type, const std::uint8_t* data, DWORD size);
    LONG DeleteValue(HKEY key, std::string_view name);
    LONG ValueWriteTarget(HKEY key, std::string_view name, Handle** handle);
    LONG Delete(HKEY key, std::string_view subKey, Removal removal);
    // Steps one enumeration; read takes the row (id, name, ...).
    LONG Enumerate(HKEY key, DWORD index, store::EnumCursor Handle::*cursor,
                   const EnumQueries& queries, const std::function<void(sqlite3_stmt*)>& read);
    LONG Batch(const std::function<LONG()>& work);

  private:
    LONG Unusable() const {
        return file.state() == StoreState::Damaged ? ERROR_BADDB : ERROR_FILE_NOT_FOUND;
    }
    // A write is refused before it starts: 1009 on a damaged store, 5 where nothing may be written.
    LONG WriteRefused(HKEY key) const {
        if (file.state() == StoreState::Damaged) return ERROR_BADDB;
        if (file.state() != StoreState::Healthy || key == HKEY_CURRENT_USER) {
            return ERROR_ACCESS_DENIED;
        }
        return transactions.Lost();
    }
    LONG Remove(sqlite3_int64 id, Removal removal);
    // Runs a statement bound to a key id (and a second one) to its end.
    LONG Run(Sql which, sqlite3_int64 id, sqlite3_int64 other = 0);
};

LONG SqliteRegistry::Store::Open(HKEY key, std::string_view subKey, DWORD access, HKEY* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    if (file.state() != StoreState::Healthy) return Unusable();
    Handle handle;
    const LONG found = keys.Resolve(key, subKey, false, true, &handle);
    if (found != ERROR_SUCCESS) return found;
    handle.write = (access & kWriteAccessBits) != 0;
    if (handle.write && !file.canWrite()) return ERROR_ACCESS_DENIED;
    *result = keys.Add(std::move(handle));
    return ERROR_SUCCESS;
}

LONG SqliteRegistry::Store::Create(HKEY key, std::string_view subKey, HKEY* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    if (const LONG refused = WriteRefused(key); refused != ERROR_SUCCESS) return refused;
    if (!file.canWrite()) return ERROR_ACCESS_DENIED;
    Handle handle;
    const LONG made = keys.Resolve(key, subKey, true, false, &handle);
    if (made != ERROR_SUCCESS) return made;
    handle.write = true;
    *result = keys.Add(std::move(handle));
    return ERROR_SUCCESS;
}

LONG SqliteRegistry::Store::FindValue(HKEY key, std::string_view name,
                                      const std::function<LONG(sqlite3_stmt*)>& read) {
    if (file.state() != StoreState::Healthy) return Unusable();
    if (!store::ValidName(name, kMaxValueNameLength)) return ERROR_INVALID_PARAMETER;
    Handle* handle = nullptr;
    LONG result = keys.KeyOf(key, &handle);
    if (result != ERROR_SUCCESS) return result;
    const auto query = [&](sqlite3_int64 id) {
        sqlite3_stmt* stmt = sql.Use(Sql::QueryValue);
        sqlite3_bind_int64(stmt, 1, id);
        store::BindText(stmt, 2, name);
        const int rc = sqlite3_step(stmt);
        const LONG answer = rc == SQLITE_ROW    ? read(stmt)
                            : rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND
                                                : transactions.Failure(rc);
        sql.Done(Sql::QueryValue);
        return answer;
    };
    result = query(handle->id);
    if (result == ERROR_FILE_NOT_FOUND && !handle->checked) {
        // Nothing found under a key taken from the cache: make sure it is the key.
        const sqlite3_int64 was = handle->id;
        result = keys.Refresh(*handle);
        if (result == ERROR_SUCCESS) {
            result = handle->id == was ? ERROR_FILE_NOT_FOUND : query(handle->id);
        }
    }
    return result;
}

// The open key a value write goes to: a valid name, a handle opened for
// writing on a store this process may write, and no batch lost meanwhile.
LONG SqliteRegistry::Store::ValueWriteTarget(HKEY key, std::string_view name, Handle** handle) {
    if (!store::ValidName(name, kMaxValueNameLength)) return ERROR_INVALID_PARAMETER;
    if (const LONG result = keys.CheckedKeyOf(key, handle); result != ERROR_SUCCESS) return result;
    if (!(*handle)->write || !file.canWrite()) return ERROR_ACCESS_DENIED;
    return transactions.Lost();
}

LONG SqliteRegistry::Store::Set(HKEY key, std::string_view name, DWORD type,
                                const std::uint8_t* data, DWORD size) {
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    if (file.state() == StoreState::Damaged) return ERROR_BADDB;
    if (file.state() != StoreState::Healthy || key == HKEY_CURRENT_USER) {
        return ERROR_ACCESS_DENIED;
    }
    Handle* handle = nullptr;
    if (const LONG result = ValueWriteTarget(key, name, &handle); result != ERROR_SUCCESS) {
        return result;
    }

    static const std::uint8_t kNoBytes = 0;  // a zero-length blob, never NULL
    sqlite3_stmt* stmt = sql.Use(Sql::SetValue);
    sqlite3_bind_int64(stmt, 1, handle->id);
    store::BindText(stmt, 2, name);
    sqlite3_bind_int64(stmt, 3, type);
    sqlite3_bind_blob(stmt, 4, size == 0 ? &kNoBytes : data, static_cast<int>(size), SQLITE_STATIC);
    const int rc = sqlite3_step(stmt);
    sql.Done(Sql::SetValue);
    return rc == SQLITE_DONE ? ERROR_SUCCESS : transactions.Failure(rc);
}

LONG SqliteRegistry::Store::DeleteValue(HKEY key, std::string_view name) {
    if (file.state() == StoreState::Damaged) return ERROR_BADDB;
    if (file.state() != StoreState::Healthy) return ERROR_FILE_NOT_FOUND;
    Handle* handle = nullptr;
    if (const LONG result = ValueWriteTarget(key, name, &handle); result != ERROR_SUCCESS) {
        return result;
    }
    sqlite3_stmt* stmt = sql.Use(Sql::DeleteValue);
    sqlite3_bind_int64(stmt, 1, handle->id);
    store::BindText(stmt, 2, name);
    const int rc = sqlite3_step(stmt);
    sql.Done(Sql::DeleteValue);
    if (rc != SQLITE_DONE) return transactions.Failure(rc);
    return sqlite3_changes(file.db()) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG SqliteRegistry::Store::Run(Sql which, sqlite3_int64 id, sqlite3_int64 other) {
    sqlite3_stmt* stmt = sql.Use(which);
    sqlite3_bind_int64(stmt, 1, id);
    if (sqlite3_bind_parameter_count(stmt) > 1) sqlite3_bind_int64(stmt, 2, other);
    const int rc = sqlite3_step(stmt);
    sql.Done(which);
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : transactions.Failure(rc);
}

LONG SqliteRegistry::Store::Remove(sqlite3_int64 id, Removal removal) {
    LONG result = ERROR_NO_MORE_ITEMS;
    switch (removal) {
        case Removal::Key:
            // A key with sub-keys is not deleted alone (5).
            result = Run(Sql::HasChild, id);
            if (result == ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
            if (result == ERROR_NO_MORE_ITEMS) result = Run(Sql::DeleteKey, id);
            break;
        case Removal::Tree:
            result = Run(Sql::DeleteTree, id, 0);
            break;
        case Removal::Content:
            result = Run(Sql::DeleteTree, id, id);
            if (result == ERROR_NO_MORE_ITEMS) result = Run(Sql::DeleteValues, id);
            break;
    }
    return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
}

LONG SqliteRegistry::Store::Delete(HKEY key, std::string_view subKey, Removal removal) {
    if (file.state() == StoreState::Damaged) return ERROR_BADDB;
    if (file.state() != StoreState::Healthy) return ERROR_FILE_NOT_FOUND;
    if (const LONG lost = transactions.Lost(); lost != ERROR_SUCCESS) return lost;
    Handle found;
    if (!file.canWrite()) {
        const LONG result = keys.Resolve(key, subKey, false, false, &found);
        return result == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : result;
    }
    // Check and delete in one write, so no sub-key can appear in between.
    const LONG result = transactions.Write([&] {
        const LONG resolved = keys.Resolve(key, subKey, false, false, &found);
        if (resolved != ERROR_SUCCESS) return resolved;
        return keys.IsProtected(found.id) ? ERROR_ACCESS_DENIED : Remove(found.id, removal);
    });
    keys.ForgetPaths();
    return result;
}

LONG SqliteRegistry::Store::Enumerate(HKEY key, DWORD index, store::EnumCursor Handle::*cursor,
                                      const EnumQueries& queries,
                                      const std::function<void(sqlite3_stmt*)>& read) {
    if (file.state() != StoreState::Healthy) return Unusable();
    Handle* handle = nullptr;
    LONG result = keys.CheckedKeyOf(key, &handle);
    if (result != ERROR_SUCCESS) return result;
    sqlite3_stmt* row = nullptr;
    const int rc = (handle->*cursor).Step(sql, queries, handle->id, index, &row);
    if (rc == SQLITE_ROW) {
        read(row);
    } else {
        result = rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : transactions.Failure(rc);
    }
    sqlite3_reset(row);
    return result;
}

LONG SqliteRegistry::Store::Batch(const std::function<LONG()>& work) {
    if (file.state() == StoreState::Damaged) return ERROR_BADDB;
    if (file.state() != StoreState::Healthy) return work();
    return transactions.Batch(work, [this] { keys.ForgetFoundKeys(); });
}

SqliteRegistry::SqliteRegistry(const std::string& storePath, StoreAccess access)
    : store_(std::make_unique<Store>(storePath, access)) {}

SqliteRegistry::~SqliteRegistry() = default;

std::unique_lock<std::recursive_mutex> SqliteRegistry::Enter() const {
    std::unique_lock lock(store_->mutex);
    // A reader of the store file alone goes over to the WAL files once a
    // writer made them, between batches (never under a batch's reads).
    if (!store_->transactions.InBatch()) store_->file.FollowWriters();
    return lock;
}

LONG SqliteRegistry::RegOpenKeyExA(HKEY key, std::string_view subKey, DWORD /*options*/,
                                   DWORD samDesired, HKEY* result) {
    const auto lock = Enter();
    return store_->Open(key, subKey, samDesired, result);
}

LONG SqliteRegistry::RegCreateKeyA(HKEY key, std::string_view subKey, HKEY* result) {
    const auto lock = Enter();
    return store_->Create(key, subKey, result);
}

LONG SqliteRegistry::RegQueryValueExA(HKEY key, std::string_view valueName, DWORD* type,
                                      std::uint8_t* data, DWORD* dataSize) {
    if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    const auto lock = Enter();
    return store_->FindValue(key, valueName, [&](sqlite3_stmt* row) {
        const auto length = static_cast<DWORD>(sqlite3_column_bytes(row, 1));
        LONG result = ERROR_SUCCESS;
        if (type != nullptr) *type = static_cast<DWORD>(sqlite3_column_int64(row, 0));
        if (data != nullptr && *dataSize < length) {
            result = ERROR_MORE_DATA;
        } else if (data != nullptr && length > 0) {
            std::memcpy(data, sqlite3_column_blob(row, 1), length);
        }
        if (dataSize != nullptr) *dataSize = length;
        return result;
    });
}

LONG SqliteRegistry::RegFindValueA(HKEY key, std::string_view valueName, std::string* storedName,
                                   DWORD* type, std::string* data) {
    const auto lock = Enter();
    return store_->FindValue(key, valueName, [&](sqlite3_stmt* row) {
        if (type != nullptr) *type = static_cast<DWORD>(sqlite3_column_int64(row, 0));
        if (data != nullptr) *data = store::ColumnBytes(row, 1);
        if (storedName != nullptr) *storedName = store::ColumnBytes(row, 2);
        return ERROR_SUCCESS;
    });
}

LONG SqliteRegistry::RegSetValueExA(HKEY key, std::string_view valueName, DWORD type,
                                    const std::uint8_t* data, DWORD dataSize) {
    const auto lock = Enter();
    return store_->Set(key, valueName, type, data, dataSize);
}

LONG SqliteRegistry::RegDeleteValueA(HKEY key, std::string_view valueName) {
    const auto lock = Enter();
    return store_->DeleteValue(key, valueName);
}

LONG SqliteRegistry::RegDeleteKeyA(HKEY key, std::string_view subKey) {
    const auto lock = Enter();
    return store_->Delete(key, subKey, Removal::Key);
}

LONG SqliteRegistry::RegDeleteTreeA(HKEY key, std::string_view subKey) {
    const auto lock = Enter();
    return store_->Delete(key, subKey, subKey.empty() ? Removal::Content : Removal::Tree);
}

LONG SqliteRegistry::RegCloseKey(HKEY key) {
    const auto lock = Enter();
    return store_->keys.Close(key);
}

LONG SqliteRegistry::RegEnumKeyExA(HKEY key, DWORD index, std::string* name) {
    if (name == nullptr) return ERROR_INVALID_PARAMETER;
    const auto lock = Enter();
    return store_->Enumerate(key, index, &Handle::keys, kSubKeys,
                             [&](sqlite3_stmt* row) { *name = store::ColumnBytes(row, 1); });
}

LONG SqliteRegistry::RegEnumValueA(HKEY key, DWORD index, std::string* valueName, DWORD* type,
                                   std::string* data) {
    if (valueName == nullptr) return ERROR_INVALID_PARAMETER;
    const auto lock = Enter();
    return store_->Enumerate(key, index, &Handle::values, kValues, [&](sqlite3_stmt* row) {
        *valueName = store::ColumnBytes(row, 1);
        if (type != nullptr) *type = static_cast<DWORD>(sqlite3_column_int64(row, 2));
        if (data != nullptr) *data = store::ColumnBytes(row, 3);
    });
}

LONG SqliteRegistry::RegApplyBatch(const std::function<LONG()>& work) {
    const auto lock = Enter();
    return store_->Batch(work);
}

std::string SqliteRegistry::StoreProblem() const {
    std::lock_guard lock(store_->mutex);
    return store_->file.problem();
}

bool SqliteRegistry::CanWrite() const {
    std::lock_guard lock(store_->mutex);
    return store_->file.canWrite();
}

bool SqliteRegistry::Exists() const {
    std::lock_guard lock(store_->mutex);
    return store_->file.exists();
}

const std::string& SqliteRegistry::Path() const {
    return store_->file.path();
}

std::string SqliteRegistry::CheckIntegrity() {
    const auto lock = Enter();
    return store_->file.Integrity();
}

std::unique_ptr<Registry> OpenRegistryStore(const InstallRoot& root, StoreAccess access) {
    return std::make_unique<SqliteRegistry>(root.registryStore, access);
}

}  // namespace orvel::platform
