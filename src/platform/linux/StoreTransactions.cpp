#include "platform/linux/StoreTransactions.h"

#include "platform/linux/SqliteRegistry.h"

namespace orvel::platform::store {

int Transactions::Begin() {
    return sql_.Exec(depth_ > 0 ? Sql::Savepoint : Sql::Begin);
}

int Transactions::Commit() {
    return sql_.Exec(depth_ > 0 ? Sql::Release : Sql::Commit);
}

void Transactions::Rollback() {
    if (depth_ > 0) {
        sql_.Exec(Sql::RollbackTo);
        sql_.Exec(Sql::Release);
    } else {
        sql_.Exec(Sql::Rollback);
    }
}

LONG Transactions::Write(const std::function<LONG()>& steps) {
    int rc = Begin();
    if (rc != SQLITE_OK) return Failure(rc);
    LONG result = steps();
    if (result == ERROR_SUCCESS) {
        rc = Commit();
        if (rc != SQLITE_OK) result = Failure(rc);
    }
    if (result != ERROR_SUCCESS) Rollback();
    return result;
}

// Nothing can be written: the work's writes are refused one by one, and its
// reads see one state of the store (and take its locks once, not per read).
LONG Transactions::ReadBatch(const std::function<LONG()>& work) {
    if (depth_ > 0) return work();
    const int rc = sql_.Exec(Sql::BeginRead);
    if (rc != SQLITE_OK) return Failure(rc);
    ++depth_;
    lost_ = ERROR_SUCCESS;
    LONG result = ERROR_SUCCESS;
    try {
        result = work();
    } catch (...) {
        --depth_;
        sql_.Exec(Sql::Rollback);
        throw;
    }
    --depth_;
    sql_.Exec(Sql::Rollback);
    return result;
}

LONG Transactions::Batch(const std::function<LONG()>& work, const std::function<void()>& undone) {
    if (!file_.canWrite()) return ReadBatch(work);
    int rc = Begin();
    if (rc != SQLITE_OK) return Failure(rc);
    if (depth_++ == 0) lost_ = ERROR_SUCCESS;
    LONG result = ERROR_SUCCESS;
    try {
        result = work();
    } catch (...) {
        --depth_;
        Rollback();
        undone();
        throw;
    }
    const LONG lost = lost_;
    --depth_;
    if (result == ERROR_SUCCESS && lost != ERROR_SUCCESS) result = lost;
    if (result == ERROR_SUCCESS) {
        rc = Commit();
        if (rc == SQLITE_OK) return ERROR_SUCCESS;
        result = Failure(rc);
    }
    Rollback();
    undone();
    return result;
}

LONG Transactions::Failure(int rc) {
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
                file_.Fail(std::string("the file is damaged (") + sqlite3_errstr(rc) + ")");
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
    if (depth_ > 0 && file_.db() != nullptr && sqlite3_get_autocommit(file_.db()) != 0 &&
        lost_ == ERROR_SUCCESS) {
        lost_ = result;
    }
    return result;
}

}  // namespace orvel::platform::store
