#include "platform/linux/SqliteRegistry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
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

// Children and values in creation order, so that an enumeration steps from one
// row to the next instead of counting from the first.
const char* const kOrderIndexes = R"sql(
CREATE INDEX IF NOT EXISTS keys_in_order ON keys(parent, id);
CREATE INDEX IF NOT EXISTS key_values_in_order ON key_values(key, id);
)sql";

// Writes a value, replacing one of the same name (any type) in place.
const char* const kWriteValueSql =
    "INSERT INTO key_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
    " ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, data=excluded.data";

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
    Store(const std::string& path, StoreAccess access)
        : path_(path), readOnly_(access == StoreAccess::ReadOnly) {
        Open();
    }
    ~Store() {
        statements_.clear();
        if (db_ != nullptr) sqlite3_close_v2(db_);
    }

    // Held for every operation; a batch holds it throughout, so its operations
    // (which take it again) are not mixed with another thread's.
    std::recursive_mutex mutex;

    enum class State { Healthy, Absent, Damaged };

    State state() const { return state_; }
    bool canWrite() const { return canWrite_; }
    bool exists() const { return exists_; }
    const std::string& path() const { return path_; }
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
    LONG Batch(const std::function<LONG()>& work);
    std::string Integrity();

  private:
    // Where the last enumeration of a handle stopped, so that the next index
    // continues from there instead of counting from the first row again.
    struct Cursor {
        bool valid = false;
        sqlite3_int64 keyId = 0;
        DWORD index = 0;
        sqlite3_int64 lastRow = 0;
    };
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
        int depth = 0;  // levels below HKEY_LOCAL_MACHINE
        Cursor keys;
        Cursor values;
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
        kEnumKeyAfter,
        kEnumValue,
        kEnumValueAfter,
        kBegin,
        kBeginRead,
        kCommit,
        kRollback,
        kSavepoint,
        kRelease,
        kRollbackTo,
        kSqlCount
    };
    // What the file holds, read before anything could write.
    struct Layout {
        int objects = 0;
        int tables = 0;
        int applicationId = 0;
        int version = 0;
        int orderIndexes = 0;
    };

    void Open();
    void OpenFile();
    bool CheckFile();
    bool CreateFile(const std::string& folder);
    bool HasDatabaseHeader(const struct stat& info);
    bool Connect();
    bool ReadLayout(Layout* layout);
    bool LayOut();
    void Configure(const Layout& layout);
    bool Prepare();
    void Fail(const std::string& what);
    LONG Failure(int rc);
    LONG Unusable() const { return state_ == State::Damaged ? ERROR_BADDB : ERROR_FILE_NOT_FOUND; }
    sqlite3_stmt* Use(Sql which) { return statements_[which]->Use(); }
    void Done(Sql which) { statements_[which]->Done(); }
    int Exec(Sql which);

    // A write of several statements: a transaction of its own, or a savepoint
    // inside a batch.
    int BeginWrite();
    int CommitWrite();
    void RollbackWrite();
    LONG ReadBatch(const std::function<LONG()>& work);
    // After a batch was undone: nothing found inside it may be trusted.
    void ForgetFoundKeys();
    // Set once the batch's transaction is lost (SQLite rolls back by itself on
    // some failures): the batch writes nothing more and answers this.
    LONG BatchLost() const { return batchDepth_ > 0 ? batchLost_ : ERROR_SUCCESS; }

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
    LONG WalkOrCreate(Handle* found, bool create);
    LONG Walk(sqlite3_int64 base, std::string_view path, bool create, sqlite3_int64* id);
    LONG FindChild(sqlite3_int64 parent, std::string_view name, sqlite3_int64* id);
    LONG KeyExists(sqlite3_int64 id);
    // The keys never deleted: the root, SOFTWARE, Classes and its CLSID and AppID.
    bool IsProtected(sqlite3_int64 id);
    LONG RemoveKey(sqlite3_int64 id);
    // Steps an enumeration: the row after the cursor, or the index-th row.
    sqlite3_stmt* EnumStep(Handle& handle, Cursor& cursor, DWORD index, Sql next, Sql nth, int* rc);
    HKEY NewHandle(Handle handle);

    std::string path_;
    bool readOnly_ = false;
    bool memory_ = false;
    bool exists_ = true;
    std::string folder_;
    sqlite3* db_ = nullptr;
    State state_ = State::Absent;
    bool canWrite_ = false;
    std::string problem_;
    int batchDepth_ = 0;
    LONG batchLost_ = ERROR_SUCCESS;
    std::vector<std::unique_ptr<Statement>> statements_;
    std::unordered_map<HKEY, Handle> handles_;
    HKEY nextHandle_ = kFirstHandle;
    Handle machineRoot_{kMachineRootId, false, true, kMachineRootId, "", "", 0, {}, {}};
    Handle classesRoot_{0, false, false, kMachineRootId, "SOFTWARE\\Classes", "", 2, {}, {}};
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
    memory_ = path_ == ":memory:";
    if (memory_) {
        canWrite_ = !readOnly_;
    } else if (!CheckFile()) {
        return;
    }
    if (!Connect()) return;
    Layout layout;
    if (!ReadLayout(&layout)) return;
    if (layout.objects == 0 &&
        (layout.applicationId == 0 || layout.applicationId == kApplicationId)) {
        // An empty database (new, or its creation was cut short): lay out the store.
        if (!canWrite_) return;  // nothing to read; reads answer 2, writes 5
        if (!LayOut()) return;
        layout.orderIndexes = 2;
    } else if (layout.applicationId != kApplicationId || layout.version != kSchemaVersion ||
               layout.tables != 2) {
        return Fail("the file is not an Orvel registry store of layout " +
                    std::to_string(kSchemaVersion));
    }
    Configure(layout);
    if (!Prepare()) {
        return Fail(std::string("the store's tables cannot be read (") + sqlite3_errmsg(db_) + ")");
    }
    state_ = State::Healthy;
}

// The file is there (made when missing and allowed), is a regular readable
// file and begins as a database does. False when the store cannot be opened.
bool SqliteRegistry::Store::CheckFile() {
    const std::filesystem::path file(path_);
    folder_ = file.has_parent_path() ? file.parent_path().string() : std::string(1, '.');
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            Fail("the file cannot be read (" + SystemMessage(errno) + ")");
            return false;
        }
        exists_ = false;
        if (readOnly_ || !CreateFile(folder_)) return false;
        if (::stat(path_.c_str(), &info) != 0) return false;
        exists_ = true;
    }
    if (!S_ISREG(info.st_mode)) {
        Fail("it is not a regular file");
        return false;
    }
    if (::access(path_.c_str(), R_OK) != 0) {
        Fail("the file cannot be read (" + SystemMessage(errno) + ")");
        return false;
    }
    if (!HasDatabaseHeader(info)) return false;
    canWrite_ =
        !readOnly_ && ::access(path_.c_str(), W_OK) == 0 && ::access(folder_.c_str(), W_OK) == 0;
    return true;
}

// A new store: its folder and file readable by all, writable by the owner.
bool SqliteRegistry::Store::CreateFile(const std::string& folder) {
    if (!CreateFolders(folder)) return false;
    const int fd = ::open(path_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST;
    ::fchmod(fd, 0644);
    ::close(fd);
    return true;
}

// SQLite would take a short file of any content for an empty database and
// overwrite it: only an empty file or one with the SQLite header goes further.
bool SqliteRegistry::Store::HasDatabaseHeader(const struct stat& info) {
    if (info.st_size == 0) return true;
    static const char kHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                     'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
    char header[sizeof kHeader] = {};
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Fail("the file cannot be read (" + SystemMessage(errno) + ")");
        return false;
    }
    const ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, kHeader, sizeof header) != 0) {
        Fail("the file is not a database");
        return false;
    }
    return true;
}

bool SqliteRegistry::Store::Connect() {
    int rc = SQLITE_OK;
    if (canWrite_) {
        rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    } else {
        rc = sqlite3_open_v2(memory_ ? ":memory:" : FileUri(path_).c_str(), &db_,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    }
    if (rc != SQLITE_OK) {
        Fail(std::string("the file cannot be opened (") + sqlite3_errstr(rc) + ")");
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    return true;
}

bool SqliteRegistry::Store::ReadLayout(Layout* layout) {
    sqlite3_stmt* probe = nullptr;
    int rc = sqlite3_prepare_v2(db_,
                                "SELECT (SELECT count(*) FROM sqlite_master),"
                                " (SELECT count(*) FROM sqlite_master WHERE type='table' AND"
                                "  name IN ('keys','key_values')),"
                                " (SELECT application_id FROM pragma_application_id),"
                                " (SELECT user_version FROM pragma_user_version),"
                                " (SELECT count(*) FROM sqlite_master WHERE type='index' AND"
                                "  name IN ('keys_in_order','key_values_in_order'))",
                                -1, &probe, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(probe);
        if (rc == SQLITE_ROW) {
            layout->objects = sqlite3_column_int(probe, 0);
            layout->tables = sqlite3_column_int(probe, 1);
            layout->applicationId = sqlite3_column_int(probe, 2);
            layout->version = sqlite3_column_int(probe, 3);
            layout->orderIndexes = sqlite3_column_int(probe, 4);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(probe);
    if (rc != SQLITE_OK) {
        Fail(std::string("the file cannot be read as a registry store (") + sqlite3_errmsg(db_) +
             ")");
        return false;
    }
    return true;
}

bool SqliteRegistry::Store::LayOut() {
    if (!memory_) sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    std::string init = kSchema;
    init += kOrderIndexes;
    init += "PRAGMA application_id=" + std::to_string(kApplicationId) + ";";
    init += "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    // Another process may be laying it out too: check again inside the transaction.
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
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
        Fail(std::string("the store could not be laid out (") + sqlite3_errmsg(db_) + ")");
        return false;
    }
    return true;
}

void SqliteRegistry::Store::Configure(const Layout& layout) {
    if (canWrite_ && !memory_) {
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        // The WAL file stays (readers need it) but shrinks back after checkpoints.
        sqlite3_exec(db_, "PRAGMA journal_size_limit=1048576", nullptr, nullptr, nullptr);
    }
    // Stores laid out before the enumeration indexes get them from their first writer;
    // readers of such a store enumerate more slowly, with the same answers.
    if (canWrite_ && layout.orderIndexes != 2) {
        sqlite3_exec(db_, kOrderIndexes, nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
}

bool SqliteRegistry::Store::Prepare() {
    static const char* const sql[kSqlCount] = {
        "SELECT id FROM keys WHERE parent=?1 AND name=?2",
        "SELECT 1 FROM keys WHERE id=?1",
        "INSERT INTO keys(parent, name) VALUES(?1, ?2)",
        "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1",
        "DELETE FROM keys WHERE id=?1",
        "SELECT type, data FROM key_values WHERE key=?1 AND name=?2",
        kWriteValueSql,
        "DELETE FROM key_values WHERE key=?1 AND name=?2",
        "SELECT id, name FROM keys WHERE parent=?1 ORDER BY id LIMIT 1 OFFSET ?2",
        "SELECT id, name FROM keys WHERE parent=?1 AND id>?2 ORDER BY id LIMIT 1",
        "SELECT id, name, type, data FROM key_values WHERE key=?1 ORDER BY id LIMIT 1 OFFSET ?2",
        "SELECT id, name, type, data FROM key_values WHERE key=?1 AND id>?2 ORDER BY id LIMIT 1",
        "BEGIN IMMEDIATE",
        "BEGIN",
        "COMMIT",
        "ROLLBACK",
        "SAVEPOINT write",
        "RELEASE write",
        "ROLLBACK TO write",
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
    const LONG result = [&] {
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
    }();
    // On a full disk, an I/O error or a lack of memory SQLite may undo the whole
    // transaction by itself: then nothing more of the batch may be written.
    if (batchDepth_ > 0 && db_ != nullptr && sqlite3_get_autocommit(db_) != 0 &&
        batchLost_ == ERROR_SUCCESS) {
        batchLost_ = result;
    }
    return result;
}

int SqliteRegistry::Store::Exec(Sql which) {
    const int rc = sqlite3_step(Use(which));
    Done(which);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int SqliteRegistry::Store::BeginWrite() {
    return Exec(batchDepth_ > 0 ? kSavepoint : kBegin);
}

int SqliteRegistry::Store::CommitWrite() {
    return Exec(batchDepth_ > 0 ? kRelease : kCommit);
}

void SqliteRegistry::Store::RollbackWrite() {
    if (batchDepth_ > 0) {
        Exec(kRollbackTo);
        Exec(kRelease);
    } else {
        Exec(kRollback);
    }
}

// Nothing can be written: the work's writes are refused one by one, and its
// reads see one state of the store (and take its locks once, not per read).
LONG SqliteRegistry::Store::ReadBatch(const std::function<LONG()>& work) {
    if (batchDepth_ > 0) return work();
    const int rc = Exec(kBeginRead);
    if (rc != SQLITE_OK) return Failure(rc);
    ++batchDepth_;
    batchLost_ = ERROR_SUCCESS;
    LONG result = ERROR_SUCCESS;
    try {
        result = work();
    } catch (...) {
        --batchDepth_;
        Exec(kRollback);
        throw;
    }
    --batchDepth_;
    Exec(kRollback);
    return result;
}

void SqliteRegistry::Store::ForgetFoundKeys() {
    pathCache_.clear();
    classesRoot_.checked = false;
    for (auto& [key, handle] : handles_) {
        handle.checked = false;
        handle.keys.valid = false;
        handle.values.valid = false;
    }
}

LONG SqliteRegistry::Store::Batch(const std::function<LONG()>& work) {
    if (state_ == State::Damaged) return ERROR_BADDB;
    if (state_ != State::Healthy) return work();
    if (!canWrite_) return ReadBatch(work);
    int rc = BeginWrite();
    if (rc != SQLITE_OK) return Failure(rc);
    if (batchDepth_++ == 0) batchLost_ = ERROR_SUCCESS;
    LONG result = ERROR_SUCCESS;
    try {
        result = work();
    } catch (...) {
        --batchDepth_;
        RollbackWrite();
        ForgetFoundKeys();
        throw;
    }
    const LONG lost = batchLost_;
    --batchDepth_;
    if (result == ERROR_SUCCESS && lost != ERROR_SUCCESS) result = lost;
    if (result == ERROR_SUCCESS) {
        rc = CommitWrite();
        if (rc == SQLITE_OK) return ERROR_SUCCESS;
        result = Failure(rc);
    }
    RollbackWrite();
    ForgetFoundKeys();
    return result;
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
        found->path = "SOFTWARE\\Classes";
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

    const LONG result = WalkOrCreate(found, create);
    if (result == ERROR_SUCCESS) {
        found->checked = true;
        if (pathCache_.size() >= kPathCacheLimit) pathCache_.clear();
        pathCache_[found->cacheKey] = found->id;
    }
    return result;
}

LONG SqliteRegistry::Store::WalkOrCreate(Handle* found, bool create) {
    LONG result = Walk(found->base, found->path, false, &found->id);
    if (result == ERROR_FILE_NOT_FOUND && create) {
        // Make the missing keys in one transaction; another writer may have made some.
        int rc = BeginWrite();
        if (rc != SQLITE_OK) return Failure(rc);
        result = Walk(found->base, found->path, true, &found->id);
        rc = result == ERROR_SUCCESS ? CommitWrite() : SQLITE_OK;
        if (result != ERROR_SUCCESS || rc != SQLITE_OK) {
            if (result == ERROR_SUCCESS) result = Failure(rc);
            RollbackWrite();
        }
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
    if (const LONG lost = BatchLost(); lost != ERROR_SUCCESS) return lost;
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
    if (const LONG lost = BatchLost(); lost != ERROR_SUCCESS) return lost;
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
    if (const LONG lost = BatchLost(); lost != ERROR_SUCCESS) return lost;
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
    if (const LONG lost = BatchLost(); lost != ERROR_SUCCESS) return lost;
    // Check and delete in one transaction, so no sub-key can appear in between.
    const bool writable = canWrite_;
    int rc = writable ? BeginWrite() : SQLITE_OK;
    if (rc != SQLITE_OK) return Failure(rc);
    Handle found;
    LONG result = Resolve(key, subKey, false, false, &found);
    if (result == ERROR_SUCCESS) {
        result = !writable || IsProtected(found.id) ? ERROR_ACCESS_DENIED : RemoveKey(found.id);
    }
    if (!writable) return result;
    if (result == ERROR_SUCCESS) {
        rc = CommitWrite();
        if (rc != SQLITE_OK) result = Failure(rc);
    }
    if (result != ERROR_SUCCESS) RollbackWrite();
    pathCache_.clear();
    classesRoot_.checked = false;
    return result;
}

bool SqliteRegistry::Store::IsProtected(sqlite3_int64 id) {
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

// Deletes a key that has no sub-keys (5 when it has some).
LONG SqliteRegistry::Store::RemoveKey(sqlite3_int64 id) {
    sqlite3_stmt* stmt = Use(kHasChild);
    sqlite3_bind_int64(stmt, 1, id);
    int rc = sqlite3_step(stmt);
    Done(kHasChild);
    if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    if (rc != SQLITE_DONE) return Failure(rc);
    sqlite3_stmt* erase = Use(kDeleteKey);
    sqlite3_bind_int64(erase, 1, id);
    rc = sqlite3_step(erase);
    Done(kDeleteKey);
    return rc == SQLITE_DONE ? ERROR_SUCCESS : Failure(rc);
}

LONG SqliteRegistry::Store::Close(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER) {
        return ERROR_SUCCESS;
    }
    return handles_.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

sqlite3_stmt* SqliteRegistry::Store::EnumStep(Handle& handle, Cursor& cursor, DWORD index, Sql next,
                                              Sql nth, int* rc) {
    // Index 0 and the index after the last one answered step on from a row;
    // any other index is counted out from the first.
    const bool onward =
        index == 0 || (cursor.valid && cursor.keyId == handle.id && cursor.index + 1 == index);
    const Sql which = onward ? next : nth;
    sqlite3_stmt* stmt = Use(which);
    sqlite3_bind_int64(stmt, 1, handle.id);
    sqlite3_bind_int64(stmt, 2, onward ? (index == 0 ? 0 : cursor.lastRow) : index);
    *rc = sqlite3_step(stmt);
    cursor.valid = *rc == SQLITE_ROW;
    if (cursor.valid) {
        cursor.keyId = handle.id;
        cursor.index = index;
        cursor.lastRow = sqlite3_column_int64(stmt, 0);
    }
    return stmt;
}

LONG SqliteRegistry::Store::EnumKey(HKEY key, DWORD index, std::string* name) {
    if (name == nullptr) return ERROR_INVALID_PARAMETER;
    if (state_ != State::Healthy) return Unusable();
    Handle* handle = nullptr;
    LONG result = CheckedKeyOf(key, &handle);
    if (result != ERROR_SUCCESS) return result;
    int rc = SQLITE_OK;
    sqlite3_stmt* stmt = EnumStep(*handle, handle->keys, index, kEnumKeyAfter, kEnumKey, &rc);
    if (rc == SQLITE_ROW) {
        name->assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, 1)));
    } else {
        result = rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Failure(rc);
    }
    sqlite3_reset(stmt);
    return result;
}

LONG SqliteRegistry::Store::EnumValue(HKEY key, DWORD index, std::string* name, DWORD* type,
                                      std::string* data) {
    if (name == nullptr) return ERROR_INVALID_PARAMETER;
    if (state_ != State::Healthy) return Unusable();
    Handle* handle = nullptr;
    LONG result = CheckedKeyOf(key, &handle);
    if (result != ERROR_SUCCESS) return result;
    int rc = SQLITE_OK;
    sqlite3_stmt* stmt = EnumStep(*handle, handle->values, index, kEnumValueAfter, kEnumValue, &rc);
    if (rc == SQLITE_ROW) {
        name->assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, 1)));
        if (type != nullptr) *type = static_cast<DWORD>(sqlite3_column_int64(stmt, 2));
        if (data != nullptr) {
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 3));
            const auto length = static_cast<std::size_t>(sqlite3_column_bytes(stmt, 3));
            if (length == 0) {
                data->clear();
            } else {
                data->assign(bytes, length);
            }
        }
    } else {
        result = rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Failure(rc);
    }
    sqlite3_reset(stmt);
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

SqliteRegistry::SqliteRegistry(const std::string& storePath, StoreAccess access)
    : store_(std::make_unique<Store>(storePath, access)) {}

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

LONG SqliteRegistry::RegApplyBatch(const std::function<LONG()>& work) {
    std::lock_guard lock(store_->mutex);
    return store_->Batch(work);
}

std::string SqliteRegistry::StoreProblem() const {
    std::lock_guard lock(store_->mutex);
    return store_->problem();
}

bool SqliteRegistry::CanWrite() const {
    std::lock_guard lock(store_->mutex);
    return store_->canWrite();
}

bool SqliteRegistry::Exists() const {
    std::lock_guard lock(store_->mutex);
    return store_->exists();
}

const std::string& SqliteRegistry::Path() const {
    return store_->path();
}

std::string SqliteRegistry::CheckIntegrity() {
    std::lock_guard lock(store_->mutex);
    return store_->Integrity();
}

std::unique_ptr<Registry> OpenRegistryStore(const InstallRoot& root, StoreAccess access) {
    return std::make_unique<SqliteRegistry>(root.registryStore, access);
}

}  // namespace orvel::platform
