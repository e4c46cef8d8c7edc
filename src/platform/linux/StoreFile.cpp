#include "platform/linux/StoreFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/UniqueFd.h"

namespace orvel::platform::store {

namespace {

constexpr int kBusyTimeoutMs = 5000;

std::string SystemMessage(int error) {
    return std::strerror(error);
}

// "file:" URI of a path, for opening read-only; fileAlone reads the file
// without WAL files (nothing may change it meanwhile: see FollowWriters).
std::string FileUri(const std::string& path, bool fileAlone) {
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
    return uri + (fileAlone ? "?mode=ro&immutable=1" : "?mode=ro");
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

bool OutOfSpace(int error) {
    return error == ENOSPC || error == EDQUOT;
}

// A read-only connection found no WAL index it could use or make.
bool NeedsWalFiles(int rc) {
    return (rc & 0xFF) == SQLITE_READONLY || (rc & 0xFF) == SQLITE_CANTOPEN;
}

}  // namespace

StoreFile::StoreFile(std::string path, StoreAccess access, Statements& sql)
    : path_(std::move(path)), sql_(sql), readOnly_(access == StoreAccess::ReadOnly) {
    Open();
    if (state_ == StoreState::Healthy && sql_.Prepare(db_) != SQLITE_OK) {
        Fail(std::string("the store's tables cannot be read (") + sqlite3_errmsg(db_) + ")");
    }
    if (state_ != StoreState::Healthy) Close();
}

void StoreFile::Fail(const std::string& what) {
    state_ = StoreState::Damaged;
    canWrite_ = false;
    problem_ = "The registry store " + path_ + " cannot be used: " + what;
}

void StoreFile::Close() {
    sql_.Clear();
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
}

void StoreFile::Open() {
    memory_ = path_ == ":memory:";
    if (memory_) {
        canWrite_ = !readOnly_;
    } else if (!CheckFile()) {
        return;
    }
    int rc = Connect(false);
    if (rc != SQLITE_OK) {
        return Fail(std::string("the file cannot be opened (") + sqlite3_errstr(rc) + ")");
    }
    Layout layout;
    rc = ReadLayoutOrFileAlone(&layout);
    if (rc != SQLITE_OK) {
        return Fail(std::string("the file cannot be read as a registry store (") +
                    sqlite3_errmsg(db_) + ")");
    }
    if (layout.Empty()) {
        if (!canWrite_) return;  // nothing to read; reads answer 2, writes 5
        if (!MakeStore()) return;
        layout.orderIndexes = 2;
    } else if (!layout.IsStore()) {
        return Fail("the file is not an Orvel registry store of layout " +
                    std::to_string(kLayoutVersion));
    }
    Configure(db_, layout, canWrite_, memory_);
    state_ = StoreState::Healthy;
}

// The file is there (made when missing and allowed), is a regular readable
// file and begins as a database does. False when the store cannot be opened.
bool StoreFile::CheckFile() {
    const std::filesystem::path file(path_);
    folder_ = file.has_parent_path() ? file.parent_path().string() : std::string(1, '.');
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            Fail("the file cannot be read (" + SystemMessage(errno) + ")");
            return false;
        }
        exists_ = false;
        if (readOnly_ || !CreateFile()) return false;
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
    if (!HasDatabaseHeader(info.st_size)) return false;
    canWrite_ =
        !readOnly_ && ::access(path_.c_str(), W_OK) == 0 && ::access(folder_.c_str(), W_OK) == 0;
    return true;
}

// A new store: its folder and file readable by all, writable by the owner.
// Where this process may not make it, the store stays absent; a full disk is
// the store's problem.
bool StoreFile::CreateFile() {
    errno = 0;
    if (!CreateFolders(folder_)) {
        if (OutOfSpace(errno)) Fail("there is not enough space on the disk to make it");
        return false;
    }
    UniqueFd fd(::open(path_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644));
    if (!fd) {
        if (OutOfSpace(errno)) Fail("there is not enough space on the disk to make it");
        return errno == EEXIST;
    }
    ::fchmod(fd.get(), 0644);
    created_ = true;
    return true;
}

// SQLite would take a short file of any content for an empty database and
// overwrite it: only an empty file or one with the SQLite header goes further.
bool StoreFile::HasDatabaseHeader(off_t size) {
    if (size == 0) return true;
    static const char kHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                     'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
    char header[sizeof kHeader] = {};
    const UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        Fail("the file cannot be read (" + SystemMessage(errno) + ")");
        return false;
    }
    const ssize_t got = ::read(fd.get(), header, sizeof header);
    if (got != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, kHeader, sizeof header) != 0) {
        Fail("the file is not a database");
        return false;
    }
    return true;
}

int StoreFile::Connect(bool fileAlone) {
    int rc = SQLITE_OK;
    if (canWrite_) {
        rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    } else {
        rc = sqlite3_open_v2(memory_ ? ":memory:" : FileUri(path_, fileAlone).c_str(), &db_,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    }
    fileAlone_ = fileAlone;
    if (rc != SQLITE_OK) return rc;
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    return SQLITE_OK;
}

// No WAL file, or one without content: the file alone holds every commit.
bool StoreFile::WalFilesMissing() const {
    struct stat info {};
    return ::stat((path_ + "-wal").c_str(), &info) != 0 || info.st_size == 0;
}

// A reader that can neither use nor make the WAL files reads the file alone,
// which holds everything while there is no WAL content.
int StoreFile::ReadLayoutOrFileAlone(Layout* layout) {
    int rc = ReadLayout(db_, layout);
    if (rc == SQLITE_OK || canWrite_ || memory_ || !NeedsWalFiles(rc) || !WalFilesMissing()) {
        return rc;
    }
    Close();
    rc = Connect(true);
    return rc == SQLITE_OK ? ReadLayout(db_, layout) : rc;
}

bool StoreFile::FollowWriters() {
    // A writer makes both files as it opens the store; until then there is
    // nothing to connect through.
    struct stat info {};
    if (!fileAlone_ || ::stat((path_ + "-wal").c_str(), &info) != 0 ||
        ::stat((path_ + "-shm").c_str(), &info) != 0) {
        return false;
    }
    sqlite3* alone = std::exchange(db_, nullptr);
    Layout layout;
    if (Connect(false) != SQLITE_OK || ReadLayout(db_, &layout) != SQLITE_OK) {
        // Not yet (the writer is still making them): go on reading the file alone.
        sqlite3_close_v2(db_);
        db_ = alone;
        fileAlone_ = true;
        return false;
    }
    sql_.Clear();
    sqlite3_close_v2(alone);
    Configure(db_, layout, false, false);
    if (sql_.Prepare(db_) != SQLITE_OK) {
        Fail(std::string("the store's tables cannot be read (") + sqlite3_errmsg(db_) + ")");
        Close();
    }
    return true;
}

// Lays out a new store. A store this open made and could not lay out (a full
// disk) is removed again, so that no empty file is left for the next open.
bool StoreFile::MakeStore() {
    std::string error;
    const int rc = LayOut(db_, memory_, &error);
    if (rc == SQLITE_OK) return true;
    if ((rc & 0xFF) == SQLITE_FULL) {
        Fail("there is not enough space on the disk to make it");
    } else {
        Fail("the store could not be laid out (" + error + ")");
    }
    RemoveEmptyFile();
    return false;
}

void StoreFile::RemoveEmptyFile() {
    if (!created_) return;
    Close();
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0 || info.st_size != 0) return;
    for (const char* suffix : {"-wal", "-shm", ""}) ::unlink((path_ + suffix).c_str());
    exists_ = false;
}

std::string StoreFile::Integrity() {
    if (state_ == StoreState::Damaged) return problem_;
    if (db_ == nullptr) return "no store";
    return CheckIntegrity(db_);
}

}  // namespace orvel::platform::store
