#include "platform/linux/SqliteRegistry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/AsciiCase.h"

namespace orvel::platform {

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr int kApplicationId = 0x4F52564C;  // "ORVL" in the file header
constexpr int kSchemaVersion = 1;
constexpr sqlite3_int64 kMachineRootId = 1;
constexpr int kBusyTimeoutMs = 5000;
constexpr std::size_t kPathCacheLimit = 4096;
constexpr HKEY kFirstHandle = 0x100;

// Access bits that ask for more than reading: set value, create sub-key, create
// link, delete, write DAC, write owner, generic write, generic all.
constexpr DWORD kWriteAccessBits = 0x0002u | 0x0004u | 0x0020u | 0x00010000u | 0x00040000u |
                                   0x00080000u | 0x40000000u | 0x10000000u;

const char* const kSchema = R"sql(
CREATE TABLE keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER REFERENCES keys(id),
    name TEXT NOT NULL COLLATE NOCASE);
CREATE UNIQUE INDEX keys_by_parent ON keys(parent, name);
CREATE TABLE key_values(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL COLLATE NOCASE,
    type INTEGER NOT NULL,
    data BLOB NOT NULL);
CREATE UNIQUE INDEX key_values_by_key ON key_values(key, name);
INSERT INTO keys(id, parent, name) VALUES(1, NULL, 'HKEY_LOCAL_MACHINE');
INSERT INTO keys(id, parent, name) VALUES(2, 1, 'SOFTWARE');
INSERT INTO keys(id, parent, name) VALUES(3, 2, 'Classes');
)sql";

std::string SystemMessage(int error) {
    return std::strerror(error);
}

// "file:" URI of a path, for opening read-only.
std::string FileUri(const std::string& path) {
    static const char* const hex = "0123456789ABCDEF";
    std::string uri = "file:";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri + "?mode=ro";
}

// Creates the missing folders of a path, each readable by all.
bool CreateFolders(const std::filesystem::path& folder) {
    if (folder.empty()) return true;
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    if (errno != ENOENT) return false;
    if (!CreateFolders(folder.parent_path())) return false;
    if (::mkdir(folder.c_str(), 0755) != 0) return errno == EEXIST;
    ::chmod(folder.c_str(), 0755);
    return true;
}

// One prepared statement, reset on every use.
class Statement {
  public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }

    int Prepare(sqlite3* db, const char* sql) {
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
    }
    sqlite3_stmt* Use() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        return stmt_;
    }
    void Done() { sqlite3_reset(stmt_); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

bool ValidName(std::string_view name, std::size_t maxLength) {
    return name.size() <= maxLength && name.find('\0') == std::string_view::npos;
}

}  // namespace

class SqliteRegistry::Store {
  public:
    explicit Store(const std::string& path) : path_(path) { Open(); }
    ~Store() {
        statements_.clear();
        if (db_ != nullptr) sqlite3_close_v2(db_);
    }

    std::mutex mutex;

    enum class State { Healthy, Absent, Damaged };

    State state() const { return state_; }
    bool canWrite() const { return canWrite_; }
    const std::string& problem() const { return problem_; }

    LONG Open(HKEY key, std::string_view subKey, DWORD access, HKEY* result);
    LONG Create(HKEY key, std::string_view subKey, HKEY* result);
    LONG Query(HKEY key, std::string_view name, DWORD* type, std::uint8_t* data, DWORD* size);
    LONG Set(HKEY key, std::string_view name, DWORD type, const std::uint8_t* data, DWORD size);
    LONG DeleteValue(HKEY key, std::string_view name);
    LONG DeleteKey(HKEY key, std::string_view subKey);
    LONG Close(HKEY key);
    LONG EnumKey(HKEY key, DWORD index, std::string* name);
    LONG EnumValue(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data);
    std::string Integrity();

  private:
    // An open key. A key found through the path cache is taken on trust: the
    // first operation that finds nothing checks it and, when another process
    // deleted and made the key again, finds it anew from base and path.
    struct Handle {
        sqlite3_int64 id = 0;
        bool write = false;
        bool checked = false;
        sqlite3_int64 base = 0;
        std::string path;
        std::string cacheKey;
    };
    enum Sql {
        kFindChild,
        kKeyExists,
        kInsertKey,
        kHasChild,
        kDeleteKey,
        kQueryValue,
        kSetValue,
        kDeleteValue,
        kEnumKey,
        kEnumValue,
        kBegin,
        kCommit,
        kRollback,
        kSqlCount
    };

    void Open();
    void OpenFile();
    bool Prepare();
    void Fail(const std::string& what);
    LONG Failure(int rc);
    LONG Unusable() const { return state_ == State::Damaged ? ERROR_BADDB : ERROR_FILE_NOT_FOUND; }
    sqlite3_stmt* Use(Sql which) { return statements_[which]->Use(); }
    void Done(Sql which) { statements_[which]->Done(); }
    int Exec(Sql which);

    // The open key a handle stands for; ERROR_INVALID_HANDLE for an unknown handle.
    LONG KeyOf(HKEY key, Handle** handle);
    // Same, checked against the store (for every operation but the value query).
    LONG CheckedKeyOf(HKEY key, Handle** handle);
    // Confirms the handle's key still exists, or finds it again by its path.
    LONG Refresh(Handle& handle);
    LONG QueryKey(sqlite3_int64 id, std::string_view name, DWORD* type, std::uint8_t* data,
                  DWORD* size);
    // Finds (and with create makes) the key subKey below a handle; with
    // trustCache a cached path answers without asking the store.
    LONG Resolve(HKEY key, std::string_view subKey, bool create, bool trustCache, Handle* found);
    LONG Walk(sqlite3_int64 base, std::string_view path, bool create, sqlite3_int64* id);
    LONG FindChild(sqlite3_int64 parent, std::string_view name, sqlite3_int64* id);
    LONG KeyExists(sqlite3_int64 id);
    HKEY NewHandle(Handle handle);

    std::string path_;
    sqlite3* db_ = nullptr;
    State state_ = State::Absent;
    bool canWrite_ = false;
    std::string problem_;
    std::vector<std::unique_ptr<Statement>> statements_;
    std::unordered_map<HKEY, Handle> handles_;
    HKEY nextHandle_ = kFirstHandle;
    Handle machineRoot_{kMachineRootId, false, true, kMachineRootId, "", ""};
    Handle classesRoot_{0, false, false, kMachineRootId, "SOFTWARE\\Classes", ""};
    // Folded "base\path" -> key id of keys found before.
    std::unordered_map<std::string, sqlite3_int64> pathCache_;
};

void SqliteRegistry::Store::Fail(const std::string& what) {
    state_ = State::Damaged;
    canWrite_ = false;
    problem_ = "The registry store " + path_ + " cannot be used: " + what;
}

void SqliteRegistry::Store::Open() {
    OpenFile();
    if (state_ != State::Healthy) {
        statements_.clear();
        if (db_ != nullptr) sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

void SqliteRegistry::Store::OpenFile() {
    const bool memory = path_ == ":memory:";
    if (!memory) {
        namespace fs = std::filesystem;
        const fs::path file(path_);
        fs::path folder = file.parent_path();
        if (folder.empty()) folder = ".";
        struct stat info {};
        if (::stat(path_.c_str(), &info) != 0) {
            if (errno != ENOENT)
                return Fail("the file cannot be read (" + SystemMessage(errno) + ")");
            // A new store: its folder and file readable by all, writable by the owner.
            if (!CreateFolders(folder)) return;
            const int fd = ::open(path_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
            if (fd < 0 && errno != EEXIST) return;
            if (fd >= 0) {
                ::fchmod(fd, 0644);
                ::close(fd);
            }
            if (::stat(path_.c_str(), &info) != 0) return;
        }
        if (!S_ISREG(info.st_mode)) return Fail("it is not a regular file");
        if (::access(path_.c_str(), R_OK) != 0)
            return Fail("the file cannot be read (" + SystemMessage(errno) + ")");
        // SQLite would take a short file of any content for an empty database and
        // overwrite it: only an empty file or one with the SQLite header goes further.
        if (info.st_size > 0) {
            static const char kHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                             'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
            char header[sizeof kHeader] = {};
            const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return Fail("the file cannot be read (" + SystemMessage(errno) + ")");
            const ssize_t got = ::read(fd, header, sizeof header);
            ::close(fd);
            if (got != static_cast<ssize_t>(sizeof header) ||
                std::memcmp(header, kHeader, sizeof header) != 0) {
                return Fail("the file is not a database");
            }
        }
        canWrite_ = ::access(path_.c_str(), W_OK) == 0 && ::access(folder.c_str(), W_OK) == 0;
    } else {
        canWrite_ = true;
    }

    int rc = SQLITE_OK;
    if (canWrite_) {
        rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    } else {
        rc = sqlite3_open_v2(FileUri(path_).c_str(), &db_,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    }
    if (rc != SQLITE_OK) {
        return Fail(std::string("the file cannot be opened (") + sqlite3_errstr(rc) + ")");
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);

    // Read the header and schema before anything could write.
    sqlite3_stmt* probe = nullptr;
    rc = sqlite3_prepare_v2(db_,
                            "SELECT (SELECT count(*) FROM sqlite_master),"
                            " (SELECT count(*) FROM sqlite_master WHERE type='table' AND"
                            "  name IN ('keys','key_values')),"
                            " (SELECT application_id FROM pragma_application_id),"
                            " (SELECT user_version FROM pragma_user_version)",
                            -1, &probe, nullptr);
    int objects = 0, tables = 0, applicationId = 0, version = 0;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(probe);
        if (rc == SQLITE_ROW) {
            objects = sqlite3_column_int(probe, 0);
            tables = sqlite3_column_int(probe, 1);
            applicationId = sqlite3_column_int(probe, 2);
            version = sqlite3_column_int(probe, 3);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(probe);
    if (rc != SQLITE_OK) {
        return Fail(std::string("the file cannot be read as a registry store (") +
                    sqlite3_errmsg(db_) + ")");
    }
    if (objects == 0 && (applicationId == 0 || applicationId == kApplicationId)) {
        // An empty database (new, or its creation was cut short): lay out the store.
        if (!canWrite_) return;  // nothing to read; reads answer 2, writes 5
        if (!memory) sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        std::string init = kSchema;
        init += "PRAGMA application_id=" + std::to_string(kApplicationId) + ";";
        init += "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
        // Another process may be laying it out too: check again inside the transaction.
        rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_stmt* count = nullptr;
            sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master", -1, &count, nullptr);
            const bool stillEmpty =
                sqlite3_step(count) == SQLITE_ROW && sqlite3_column_int(count, 0) == 0;
            sqlite3_finalize(count);
            if (stillEmpty) rc = sqlite3_exec(db_, init.c_str(), nullptr, nullptr, nullptr);
            if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        }
        if (rc != SQLITE_OK) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return Fail(std::string("the store could not be laid out (") + sqlite3_errmsg(db_) +
                        ")");
        }
    } else if (applicationId != kApplicationId || version != kSchemaVersion || tables != 2) {
        return Fail("the file is not an Orvel registry store of layout " +
                    std::to_string(kSchemaVersion));
    }
    if (canWrite_ && !memory) {
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        // The WAL file stays (readers need it) but shrinks back after checkpoints.
        sqlite3_exec(db_, "PRAGMA journal_size_limit=1048576", nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    if (!Prepare()) {
        return Fail(std::string("the store's tables cannot be read (") + sqlite3_errmsg(db_) + ")");
    }
    state_ = State::Healthy;
}

bool SqliteRegistry::Store::Prepare() {
    static const char* const sql[kSqlCount] = {
        "SELECT id FROM keys WHERE parent=?1 AND name=?2",
        "SELECT 1 FROM keys WHERE id=?1",
        "INSERT INTO keys(parent, name) VALUES(?1, ?2)",
        "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1",
        "DELETE FROM keys WHERE id=?1",
        "SELECT type, data FROM key_values WHERE key=?1 AND name=?2",
        "INSERT INTO key_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
        " ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, data=excluded.data",
        "DELETE FROM key_values WHERE key=?1 AND name=?2",
        "SELECT name FROM keys WHERE parent=?1 ORDER BY id LIMIT 1 OFFSET ?2",
        "SELECT name, type, data FROM key_values WHERE key=?1 ORDER BY id LIMIT 1 OFFSET ?2",
        "BEGIN IMMEDIATE",
        "COMMIT",
        "ROLLBACK",
    };
    statements_.clear();
    for (const char* text : sql) {
        auto statement = std::make_unique<Statement>();
        if (statement->Prepare(db_, text) != SQLITE_OK) return false;
        statements_.push_back(std::move(statement));
    }
    return true;
}

LONG SqliteRegistry::Store::Failure(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ERROR_BUSY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
        case SQLITE_CANTOPEN:
            return ERROR_ACCESS_DENIED;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            Fail(std::string("the file is damaged (") + sqlite3_errstr(rc) + ")");
            return ERROR_BADDB;
        case SQLITE_FULL:
            return ERROR_DISK_FULL;
        case SQLITE_CONSTRAINT:
            return rc == SQLITE_CONSTRAINT_FOREIGNKEY ? ERROR_KEY_DELETED
                                                      : ERROR_REGISTRY_IO_FAILED;
        default:
            return ERROR_REGISTRY_IO_FAILED;
    }
}

int SqliteRegistry::Store::Exec(Sql which) {
    const int rc = sqlite3_step(Use(which));
    Done(which);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

HKEY SqliteRegistry::Store::NewHandle(Handle handle) {
    // Handles never take the values of the predefined roots (0x80000000 and up).
    while (nextHandle_ < kFirstHandle || nextHandle_ >= HKEY_CLASSES_ROOT ||
           handles_.count(nextHandle_) != 0) {
        nextHandle_ = nextHandle_ + 1 >= HKEY_CLASSES_ROOT ? kFirstHandle : nextHandle_ + 1;
    }
    const HKEY key = nextHandle_++;
    handles_[key] = std::move(handle);
    return key;
}

LONG SqliteRegistry::Store::FindChild(sqlite3_int64 parent, std::string_view name,
                                      sqlite3_int64* id) {
    sqlite3_stmt* stmt = Use(kFindChild);
    sqlite3_bind_int64(stmt, 1, parent);
    BindText(stmt, 2, name);
    const int rc = sqlite3_step(stmt);
    LONG result = ERROR_FILE_NOT_FOUND;
    if (rc == SQLITE_ROW) {
        *id = sqlite3_column_int64(stmt, 0);
        result = ERROR_SUCCESS;
    } else if (rc != SQLITE_DONE) {
        result = Failure(rc);
    }
    Done(kFindChild);
    return result;
}

LONG SqliteRegistry::Store::KeyExists(sqlite3_int64 id) {
    sqlite3_stmt* stmt = Use(kKeyExists);
    sqlite3_bind_int64(stmt, 1, id);
    const int rc = sqlite3_step(stmt);
    Done(kKeyExists);
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Failure(rc);
}

LONG SqliteRegistry::Store::KeyOf(HKEY key, Handle** handle) {
    machineRoot_.write = canWrite_;
    classesRoot_.write = canWrite_;
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

LONG SqliteRegistry::Store::CheckedKeyOf(HKEY key, Handle** handle) {
    const LONG result = KeyOf(key, handle);
    if (result != ERROR_SUCCESS || (*handle)->checked) return result;
    return Refresh(**handle);
}

LONG SqliteRegistry::Store::Refresh(Handle& handle) {
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

LONG SqliteRegistry::Store::Walk(sqlite3_int64 base, std::string_view path, bool create,
                                 sqlite3_int64* id) {
    sqlite3_int64 current = base;
    while (!path.empty()) {
        const std::size_t end = path.find('\\');
        const std::string_view part = path.substr(0, end);
        path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
        sqlite3_int64 child = 0;
        LONG result = FindChild(current, part, &child);
        if (result == ERROR_FILE_NOT_FOUND && create) {
            sqlite3_stmt* stmt = Use(kInsertKey);
            sqlite3_bind_int64(stmt, 1, current);
            BindText(stmt, 2, part);
            const int rc = sqlite3_step(stmt);
            Done(kInsertKey);
            if (rc != SQLITE_DONE) return Failure(rc);
            child = sqlite3_last_insert_rowid(db_);
            result = ERROR_SUCCESS;
        }
        if (result != ERROR_SUCCESS) return result;
        current = child;
    }
    *id = current;
    return ERROR_SUCCESS;
}

LONG SqliteRegistry::Store::Resolve(HKEY key, std::string_view subKey, bool create, bool trustCache,
                                    Handle* found) {
    // Check the path; one trailing backslash is allowed, empty names are not.
    if (!subKey.empty() && subKey.back() == '\\') subKey.remove_suffix(1);
    std::size_t start = 0;
    while (!subKey.empty()) {
        const std::size_t end = subKey.find('\\', start);
        const std::string_view part = subKey.substr(start, end - start);
        if (part.empty() || !ValidName(part, kMaxKeyNameLength)) return ERROR_INVALID_PARAMETER;
        if (end == std::string_view::npos) break;
        start = end + 1;
    }

    found->base = kMachineRootId;
    found->path.clear();
    if (key == HKEY_CLASSES_ROOT) {
        found->path = "SOFTWARE\\Classes";
        if (!subKey.empty()) found->path += '\\';
    } else {
        Handle* base = nullptr;
        const LONG result = CheckedKeyOf(key, &base);
        if (result != ERROR_SUCCESS) return result;
        found->base = base->id;
    }
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
        // Make the missing keys in one transaction; another writer may have made some.
        int rc = Exec(kBegin);
        if (rc != SQLITE_OK) return Failure(rc);
        result = Walk(found->base, found->path, true, &found->id);
        rc = result == ERROR_SUCCESS ? Exec(kCommit) : SQLITE_OK;
        if (result != ERROR_SUCCESS || rc != SQLITE_OK) {
            Exec(kRollback);
            if (result == ERROR_SUCCESS) result = Failure(rc);
        }
    }
    if (result == ERROR_SUCCESS) {
        found->checked = true;
        if (pathCache_.size() >= kPathCacheLimit) pathCache_.clear();
        pathCache_[found->cacheKey] = found->id;
    }
    return result;
}

LONG SqliteRegistry::Store::Open(HKEY key, std::string_view subKey, DWORD access, HKEY* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    if (state_ != State::Healthy) return Unusable();
    Handle handle;
    const LONG found = Resolve(key, subKey, false, true, &handle);
    if (found != ERROR_SUCCESS) return found;
    handle.write = (access & kWriteAccessBits) != 0;
    if (handle.write && !canWrite_) return ERROR_ACCESS_DENIED;
    *result = NewHandle(std::move(handle));
    return ERROR_SUCCESS;
}

LONG SqliteRegistry::Store::Create(HKEY key, std::string_view subKey, HKEY* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    if (state_ == State::Damaged) return ERROR_BADDB;
    if (state_ != State::Healthy || !canWrite_ || key == HKEY_CURRENT_USER) {
        return ERROR_ACCESS_DENIED;
    }
    Handle handle;
    const LONG made = Resolve(key, subKey, true, false, &handle);
    if (made != ERROR_SUCCESS) return made;
    handle.write = true;
    *result = NewHandle(std::move(handle));
    return ERROR_SUCCESS;
}

LONG SqliteRegistry::Store::Query(HKEY key, std::string_view name, DWORD* type, std::uint8_t* data,
                                  DWORD* size) {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    if (state_ != State::Healthy) return Unusable();
    if (!ValidName(name, kMaxValueNameLength)) return ERROR_INVALID_PARAMETER;
    Handle* handle = nullptr;
    LONG result = KeyOf(key, &handle);
    if (result != ERROR_SUCCESS) return result;
    result = QueryKey(handle->id, name, type, data, size);
    if (result == ERROR_FILE_NOT_FOUND && !handle->checked) {
        // Nothing found under a key taken from the cache: make sure it is the key.
        const sqlite3_int64 was = handle->id;
        result = Refresh(*handle);
        if (result == ERROR_SUCCESS) {
            result = handle->id == was ? ERROR_FILE_NOT_FOUND
                                       : QueryKey(handle->id, name, type, data, size);
        }
    }
    return result;
}

LONG SqliteRegistry::Store::QueryKey(sqlite3_int64 id, std::string_view name, DWORD* type,
                                     std::uint8_t* data, DWORD* size) {
    LONG result = ERROR_SUCCESS;
    sqlite3_stmt* stmt = Use(kQueryValue);
    sqlite3_bind_int64(stmt, 1, id);
    BindText(stmt, 2, name);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        const auto stored = static_cast<DWORD>(sqlite3_column_int64(stmt, 0));
        const void* bytes = sqlite3_column_blob(stmt, 1);
        const auto length = static_cast<DWORD>(sqlite3_column_bytes(stmt, 1));
        if (type != nullptr) *type = stored;
        if (data != nullptr && *size < length) {
            result = ERROR_MORE_DATA;
        } else if (data != nullptr && length > 0) {
            std::memcpy(data, bytes, length);
        }
        if (size != nullptr) *size = length;
    } else {
        result = rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Failure(rc);
    }
    Done(kQueryValue);
    return result;
}

LONG SqliteRegistry::Store::Set(HKEY key, std::string_view name, DWORD type,
                                const std::uint8_t* data, DWORD size) {
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    if (state_ == State::Damaged) return ERROR_BADDB;
    if (state_ != State::Healthy || key == HKEY_CURRENT_USER) return ERROR_ACCESS_DENIED;
    if (!ValidName(name, kMaxValueNameLength)) return ERROR_INVALID_PARAMETER;
    Handle* handle = nullptr;
    const LONG result = CheckedKeyOf(key, &handle);
    if (result != ERROR_SUCCESS) return result;
    if (!handle->write || !canWrite_) return ERROR_ACCESS_DENIED;
    const sqlite3_int64 id = handle->id;

    static const std::uint8_t kNoBytes = 0;  // a zero-length blob, never NULL
    sqlite3_stmt* stmt = Use(kSetValue);
    sqlite3_bind_int64(stmt, 1, id);
    BindText(stmt, 2, name);
    sqlite3_bind_int64(stmt, 3, type);
    sqlite3_bind_blob(stmt, 4, size == 0 ? &kNoBytes : data, static_cast<int>(size), SQLITE_STATIC);
    const int rc = sqlite3_step(stmt);
    Done(kSetValue);
    return rc == SQLITE_DONE ? ERROR_SUCCESS : Failure(rc);
}

LONG SqliteRegistry::Store::DeleteValue(HKEY key, std::string_view name) {
    if (state_ == State::Damaged) return ERROR_BADDB;
    if (state_ != State::Healthy) return ERROR_FILE_NOT_FOUND;
    if (!ValidName(name, kMaxValueNameLength)) return ERROR_INVALID_PARAMETER;
    Handle* handle = nullptr;
    const LONG result = CheckedKeyOf(key, &handle);
    if (result != ERROR_SUCCESS) return result;
    if (!handle->write || !canWrite_) return ERROR_ACCESS_DENIED;
    const sqlite3_int64 id = handle->id;
    sqlite3_stmt* stmt = Use(kDeleteValue);
    sqlite3_bind_int64(stmt, 1, id);
    BindText(stmt, 2, name);
    const int rc = sqlite3_step(stmt);
    Done(kDeleteValue);
    if (rc != SQLITE_DONE) return Failure(rc);
    return sqlite3_changes(db_) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG SqliteRegistry::Store::DeleteKey(HKEY key, std::string_view subKey) {
    if (state_ == State::Damaged) return ERROR_BADDB;
    if (state_ != State::Healthy) return ERROR_FILE_NOT_FOUND;
    // Check and delete in one transaction, so no sub-key can appear in between.
    const bool writable = canWrite_;
    int rc = writable ? Exec(kBegin) : SQLITE_OK;
    if (rc != SQLITE_OK) return Failure(rc);
    Handle found;
    LONG result = Resolve(key, subKey, false, false, &found);
    const sqlite3_int64 id = found.id;
    if (result == ERROR_SUCCESS) {
        const bool isClassesRoot = key == HKEY_CLASSES_ROOT && subKey.empty();
        if (!writable || id == kMachineRootId || isClassesRoot) {
            result = ERROR_ACCESS_DENIED;
        } else {
            sqlite3_stmt* stmt = Use(kHasChild);
            sqlite3_bind_int64(stmt, 1, id);
            rc = sqlite3_step(stmt);
            Done(kHasChild);
            if (rc == SQLITE_ROW) {
                result = ERROR_ACCESS_DENIED;
            } else if (rc != SQLITE_DONE) {
                result = Failure(rc);
            } else {
                sqlite3_stmt* erase = Use(kDeleteKey);
                sqlite3_bind_int64(erase, 1, id);
                rc = sqlite3_step(erase);
                Done(kDeleteKey);
                if (rc != SQLITE_DONE) result = Failure(rc);
            }
        }
    }
    if (!writable) return result;
    if (result == ERROR_SUCCESS) {
        rc = Exec(kCommit);
        if (rc != SQLITE_OK) result = Failure(rc);
    }
    if (result != ERROR_SUCCESS) Exec(kRollback);
    pathCache_.clear();
    classesRoot_.checked = false;
    return result;
}

LONG SqliteRegistry::Store::Close(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER) {
        return ERROR_SUCCESS;
    }
    return handles_.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG SqliteRegistry::Store::EnumKey(HKEY key, DWORD index, std::string* name) {
    if (name == nullptr) return ERROR_INVALID_PARAMETER;
    if (state_ != State::Healthy) return Unusable();
    Handle* handle = nullptr;
    LONG result = CheckedKeyOf(key, &handle);
    if (result != ERROR_SUCCESS) return result;
    const sqlite3_int64 id = handle->id;
    sqlite3_stmt* stmt = Use(kEnumKey);
    sqlite3_bind_int64(stmt, 1, id);
    sqlite3_bind_int64(stmt, 2, index);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        name->assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0)));
    } else {
        result = rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Failure(rc);
    }
    Done(kEnumKey);
    return result;
}

LONG SqliteRegistry::Store::EnumValue(HKEY key, DWORD index, std::string* name, DWORD* type,
                                      std::string* data) {
    if (name == nullptr) return ERROR_INVALID_PARAMETER;
    if (state_ != State::Healthy) return Unusable();
    Handle* handle = nullptr;
    LONG result = CheckedKeyOf(key, &handle);
    if (result != ERROR_SUCCESS) return result;
    const sqlite3_int64 id = handle->id;
    sqlite3_stmt* stmt = Use(kEnumValue);
    sqlite3_bind_int64(stmt, 1, id);
    sqlite3_bind_int64(stmt, 2, index);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        name->assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0)));
        if (type != nullptr) *type = static_cast<DWORD>(sqlite3_column_int64(stmt, 1));
        if (data != nullptr) {
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 2));
            const auto length = static_cast<std::size_t>(sqlite3_column_bytes(stmt, 2));
            if (length == 0) {
                data->clear();
            } else {
                data->assign(bytes, length);
            }
        }
    } else {
        result = rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Failure(rc);
    }
    Done(kEnumValue);
    return result;
}

std::string SqliteRegistry::Store::Integrity() {
    if (state_ == State::Damaged) return problem_;
    if (db_ == nullptr) return "no store";
    sqlite3_stmt* stmt = nullptr;
    std::string answer;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA integrity_check(1)", -1, &stmt, nullptr);
    if (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
        answer = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    } else {
        answer = sqlite3_errmsg(db_);
    }
    sqlite3_finalize(stmt);
    if (answer == "ok") {
        rc = sqlite3_prepare_v2(db_, "PRAGMA foreign_key_check", -1, &stmt, nullptr);
        if (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) answer = "dangling key reference";
        sqlite3_finalize(stmt);
    }
    return answer;
}

SqliteRegistry::SqliteRegistry(const std::string& storePath)
    : store_(std::make_unique<Store>(storePath)) {}

SqliteRegistry::~SqliteRegistry() = default;

LONG SqliteRegistry::RegOpenKeyExA(HKEY key, std::string_view subKey, DWORD /*options*/,
                                   DWORD samDesired, HKEY* result) {
    std::lock_guard lock(store_->mutex);
    return store_->Open(key, subKey, samDesired, result);
}

LONG SqliteRegistry::RegCreateKeyA(HKEY key, std::string_view subKey, HKEY* result) {
    std::lock_guard lock(store_->mutex);
    return store_->Create(key, subKey, result);
}

LONG SqliteRegistry::RegQueryValueExA(HKEY key, std::string_view valueName, DWORD* type,
                                      std::uint8_t* data, DWORD* dataSize) {
    std::lock_guard lock(store_->mutex);
    return store_->Query(key, valueName, type, data, dataSize);
}

LONG SqliteRegistry::RegSetValueExA(HKEY key, std::string_view valueName, DWORD type,
                                    const std::uint8_t* data, DWORD dataSize) {
    std::lock_guard lock(store_->mutex);
    return store_->Set(key, valueName, type, data, dataSize);
}

LONG SqliteRegistry::RegDeleteValueA(HKEY key, std::string_view valueName) {
    std::lock_guard lock(store_->mutex);
    return store_->DeleteValue(key, valueName);
}

LONG SqliteRegistry::RegDeleteKeyA(HKEY key, std::string_view subKey) {
    std::lock_guard lock(store_->mutex);
    return store_->DeleteKey(key, subKey);
}

LONG SqliteRegistry::RegCloseKey(HKEY key) {
    std::lock_guard lock(store_->mutex);
    return store_->Close(key);
}

LONG SqliteRegistry::RegEnumKeyExA(HKEY key, DWORD index, std::string* name) {
    std::lock_guard lock(store_->mutex);
    return store_->EnumKey(key, index, name);
}

LONG SqliteRegistry::RegEnumValueA(HKEY key, DWORD index, std::string* valueName, DWORD* type,
                                   std::string* data) {
    std::lock_guard lock(store_->mutex);
    return store_->EnumValue(key, index, valueName, type, data);
}

std::string SqliteRegistry::StoreProblem() const {
    std::lock_guard lock(store_->mutex);
    return store_->problem();
}

bool SqliteRegistry::CanWrite() const {
    std::lock_guard lock(store_->mutex);
    return store_->canWrite();
}

std::string SqliteRegistry::CheckIntegrity() {
    std::lock_guard lock(store_->mutex);
    return store_->Integrity();
}

std::unique_ptr<Registry> OpenRegistryStore(const InstallRoot& root) {
    return std::make_unique<SqliteRegistry>(root.registryStore);
}

}  // namespace orvel::platform
