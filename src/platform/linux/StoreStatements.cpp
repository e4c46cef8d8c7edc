#include "platform/linux/StoreStatements.h"

#include <iterator>

namespace orvel::platform::store {

namespace {

// A key's whole subtree by ids, so that no name (not even an empty one made by
// another program) is needed; UNION ends even on a loop of parents. ?2 is a
// key of the tree that stays (the top when only its content goes).
const char* const kDeleteTreeSql =
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION SELECT keys.id FROM keys JOIN tree"
    " ON keys.parent=tree.id) DELETE FROM keys WHERE id IN tree AND id<>?2";

// Writes a value, replacing one of the same name (any type) in place.
const char* const kSetValueSql =
    "INSERT INTO key_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
    " ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, data=excluded.data";

// Keyed by Sql, in its order.
const char* const kSql[] = {
    "SELECT id FROM keys WHERE parent=?1 AND name=?2",
    "SELECT 1 FROM keys WHERE id=?1",
    "INSERT INTO keys(parent, name) VALUES(?1, ?2)",
    "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1",
    "DELETE FROM keys WHERE id=?1",
    kDeleteTreeSql,
    "SELECT type, data, name FROM key_values WHERE key=?1 AND name=?2",
    kSetValueSql,
    "DELETE FROM key_values WHERE key=?1 AND name=?2",
    "DELETE FROM key_values WHERE key=?1",
    // Enumeration: the index-th row counted from the first, or the row after the last one seen.
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
static_assert(std::size(kSql) == static_cast<std::size_t>(Sql::Count));

}  // namespace

int Statements::Prepare(sqlite3* db) {
    Clear();
    for (std::size_t i = 0; i < statements_.size(); ++i) {
        const int rc = sqlite3_prepare_v3(db, kSql[i], -1, SQLITE_PREPARE_PERSISTENT,
                                          &statements_[i], nullptr);
        if (rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
}

void Statements::Clear() {
    for (sqlite3_stmt*& stmt : statements_) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
}

sqlite3_stmt* Statements::Use(Sql which) {
    sqlite3_stmt* stmt = statements_[Index(which)];
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return stmt;
}

int Statements::Exec(Sql which) {
    const int rc = sqlite3_step(Use(which));
    Done(which);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

}  // namespace orvel::platform::store
