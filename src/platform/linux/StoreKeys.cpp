#include "platform/linux/StoreKeys.h"

#include "platform/AsciiCase.h"
#include "platform/linux/StoreLayout.h"

namespace orvel::platform::store {

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kPathCacheLimit = 4096;
constexpr HKEY kFirstHandle = 0x100;

Handle Root(sqlite3_int64 id, std::string path, int depth) {
    Handle root;
    root.id = id;
    root.write = true;
    root.checked = id != 0;
    root.base = kMachineRootId;
    root.path = std::move(path);
    root.depth = depth;
    return root;
}

}  // namespace

bool ValidName(std::string_view name, std::size_t maxLength) {
    return name.size() <= maxLength && name.find('\0') == std::string_view::npos;
}

KeyTable::KeyTable(Statements& sql, Transactions& transactions)
    : sql_(sql),
      transactions_(transactions),
      nextHandle_(kFirstHandle),
      machineRoot_(Root(kMachineRootId, "", 0)),
      classesRoot_(Root(0, "SOFTWARE\\Classes", 2)) {}

HKEY KeyTable::Add(Handle handle) {
    // Handles never take the values of the predefined roots (0x80000000 and up).
    while (nextHandle_ < kFirstHandle || nextHandle_ >= HKEY_CLASSES_ROOT ||
           handles_.count(nextHandle_) != 0) {
        nextHandle_ = nextHandle_ + 1 >= HKEY_CLASSES_ROOT ? kFirstHandle : nextHandle_ + 1;
    }
    const HKEY key = nextHandle_++;
    handles_[key] = std::move(handle);
    return key;
}

LONG KeyTable::Close(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER) {
        return ERROR_SUCCESS;
    }
    return handles_.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void KeyTable::ForgetPaths() {
    pathCache_.clear();
    classesRoot_.checked = false;
}

void KeyTable::ForgetFoundKeys() {
    ForgetPaths();
    for (auto& [key, handle] : handles_) {
        handle.checked = false;
        handle.keys.Forget();
        handle.values.Forget();
    }
}

LONG KeyTable::FindChild(sqlite3_int64 parent, std::string_view name, sqlite3_int64* id) {
    sqlite3_stmt* stmt = sql_.Use(Sql::FindChild);
    sqlite3_bind_int64(stmt, 1, parent);
    BindText(stmt, 2, name);
    const int rc = sqlite3_step(stmt);
    LONG result = ERROR_FILE_NOT_FOUND;
    if (rc == SQLITE_ROW) {
        *id = sqlite3_column_int64(stmt, 0);
        result = ERROR_SUCCESS;
    } else if (rc != SQLITE_DONE) {
        result = transactions_.Failure(rc);
    }
    sql_.Done(Sql::FindChild);
    return result;
}

LONG KeyTable::KeyExists(sqlite3_int64 id) {
    sqlite3_stmt* stmt = sql_.Use(Sql::KeyExists);
    sqlite3_bind_int64(stmt, 1, id);
    const int rc = sqlite3_step(stmt);
    sql_.Done(Sql::KeyExists);
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : transactions_.Failure(rc);
}

bool KeyTable::IsProtected(sqlite3_int64 id) {
    if (id == kMachineRootId) return true;
    sqlite3_int64 software = 0, classes = 0, child = 0;
    if (FindChild(kMachineRootId, "SOFTWARE", &software) != ERROR_SUCCESS) return false;
    if (id == software) return true;
    if (FindChild(software, "Classes", &classes) != ERROR_SUCCESS) return false;
    if (id == classes) return true;
    for (std::string_view name : {"CLSID", "AppID"}) {
        if (FindChild(classes, name, &child) == ERROR_SUCCESS && child == id) return true;
    }
    return false;
}

LONG KeyTable::KeyOf(HKEY key, Handle** handle) {
    if (key == HKEY_LOCAL_MACHINE) {
        *handle = &machineRoot_;
    } else if (key == HKEY_CLASSES_ROOT) {
        *handle = &classesRoot_;
    } else if (key == HKEY_CURRENT_USER) {
        return ERROR_FILE_NOT_FOUND;
    } else {
        const auto found = handles_.find(key);
        if (found == handles_.end()) return ERROR_INVALID_HANDLE;
        *handle = &found->second;
    }
    return ERROR_SUCCESS;
}

LONG KeyTable::CheckedKeyOf(HKEY key, Handle** handle) {
    const LONG result = KeyOf(key, handle);
    if (result != ERROR_SUCCESS || (*handle)->checked) return result;
    return Refresh(**handle);
}

LONG KeyTable::Refresh(Handle& handle) {
    LONG result = handle.id == 0 ? ERROR_FILE_NOT_FOUND : KeyExists(handle.id);
    if (result == ERROR_FILE_NOT_FOUND) {
        if (!handle.cacheKey.empty()) pathCache_.erase(handle.cacheKey);
        sqlite3_int64 id = 0;
        result = Walk(handle.base, handle.path, false, &id);
        if (result != ERROR_SUCCESS) return result;
        handle.id = id;
    }
    if (result == ERROR_SUCCESS) handle.checked = true;
    return result;
}

LONG KeyTable::Walk(sqlite3_int64 base, std::string_view path, bool create, sqlite3_int64* id) {
    sqlite3_int64 current = base;
    while (!path.empty()) {
        const std::size_t end = path.find('\\');
        const std::string_view part = path.substr(0, end);
        path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
        sqlite3_int64 child = 0;
        LONG result = FindChild(current, part, &child);
        if (result == ERROR_FILE_NOT_FOUND && create) {
            sqlite3_stmt* stmt = sql_.Use(Sql::InsertKey);
            sqlite3_bind_int64(stmt, 1, current);
            BindText(stmt, 2, part);
            const int rc = sqlite3_step(stmt);
            sql_.Done(Sql::InsertKey);
            if (rc != SQLITE_DONE) return transactions_.Failure(rc);
            child = sqlite3_last_insert_rowid(sqlite3_db_handle(stmt));
            result = ERROR_SUCCESS;
        }
        if (result != ERROR_SUCCESS) return result;
        current = child;
    }
    *id = current;
    return ERROR_SUCCESS;
}

LONG KeyTable::Resolve(HKEY key, std::string_view subKey, bool create, bool trustCache,
                       Handle* found) {
    // Check the path; one trailing backslash is allowed, empty names are not.
    if (!subKey.empty() && subKey.back() == '\\') subKey.remove_suffix(1);
    std::size_t start = 0;
    int levels = 0;
    while (!subKey.empty()) {
        const std::size_t end = subKey.find('\\', start);
        const std::string_view part = subKey.substr(start, end - start);
        if (part.empty() || !ValidName(part, kMaxKeyNameLength)) return ERROR_INVALID_PARAMETER;
        ++levels;
        if (end == std::string_view::npos) break;
        start = end + 1;
    }

    found->base = kMachineRootId;
    found->path.clear();
    if (key == HKEY_CLASSES_ROOT) {
        found->path = classesRoot_.path;
        if (!subKey.empty()) found->path += '\\';
        found->depth = classesRoot_.depth + levels;
    } else {
        Handle* base = nullptr;
        const LONG result = CheckedKeyOf(key, &base);
        if (result != ERROR_SUCCESS) return result;
        found->base = base->id;
        found->depth = base->depth + levels;
    }
    // Windows makes no key deeper than 512 levels; deeper ones left by older
    // versions can still be opened, read and deleted.
    if (create && found->depth > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    found->path += subKey;
    if (found->path.empty()) {
        found->id = found->base;
        found->checked = true;
        found->cacheKey.clear();
        return ERROR_SUCCESS;
    }

    found->cacheKey = std::to_string(found->base) + '\\';
    for (char c : found->path) found->cacheKey += AsciiLower(c);
    const auto cached = pathCache_.find(found->cacheKey);
    if (cached != pathCache_.end()) {
        found->id = cached->second;
        found->checked = false;
        if (trustCache) return ERROR_SUCCESS;
        const LONG result = Refresh(*found);
        if (result != ERROR_FILE_NOT_FOUND || !create) return result;
    }

    LONG result = Walk(found->base, found->path, false, &found->id);
    if (result == ERROR_FILE_NOT_FOUND && create) {
        // Make the missing keys in one write; another writer may have made some.
        result =
            transactions_.Write([&] { return Walk(found->base, found->path, true, &found->id); });
    }
    if (result == ERROR_SUCCESS) {
        found->checked = true;
        if (pathCache_.size() >= kPathCacheLimit) pathCache_.clear();
        pathCache_[found->cacheKey] = found->id;
    }
    return result;
}

}  // namespace orvel::platform::store
