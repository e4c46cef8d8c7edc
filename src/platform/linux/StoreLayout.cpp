#include "platform/linux/StoreLayout.h"

namespace orvel::platform::store {

namespace {

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

// A large transaction (an import) keeps its changed pages in memory rather than
// spilling them into the WAL mid-transaction, where every later look-up of a
// page would search all the frames spilled before it.
const char* const kWriterCache = "PRAGMA cache_size=-65536; PRAGMA cache_spill=OFF";

int Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

}  // namespace

int ReadLayout(sqlite3* db, Layout* layout) {
    sqlite3_stmt* probe = nullptr;
    int rc = sqlite3_prepare_v2(db,
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
    return rc;
}

int LayOut(sqlite3* db, bool memory, std::string* error) {
    std::string init = kSchema;
    init += kOrderIndexes;
    init += "PRAGMA application_id=" + std::to_string(kApplicationId) + ";";
    init += "PRAGMA user_version=" + std::to_string(kLayoutVersion) + ";";
    int rc = memory ? SQLITE_OK : Exec(db, "PRAGMA journal_mode=WAL");
    // Another process may be laying it out too: check again inside the transaction.
    if (rc == SQLITE_OK) rc = Exec(db, "BEGIN IMMEDIATE");
    if (rc == SQLITE_OK) {
        sqlite3_stmt* count = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &count, nullptr);
        const bool stillEmpty =
            sqlite3_step(count) == SQLITE_ROW && sqlite3_column_int(count, 0) == 0;
        sqlite3_finalize(count);
        if (stillEmpty) rc = Exec(db, init.c_str());
        if (rc == SQLITE_OK) rc = Exec(db, "COMMIT");
    }
    if (rc != SQLITE_OK) {
        // The cause, taken before the rollback (which may find no transaction
        // left: SQLite gives it up by itself on a full disk) replaces it.
        *error = sqlite3_errmsg(db);
        if (sqlite3_get_autocommit(db) == 0) Exec(db, "ROLLBACK");
    }
    return rc;
}

void Configure(sqlite3* db, const Layout& layout, bool canWrite, bool memory) {
    if (canWrite && !memory) {
        Exec(db, "PRAGMA journal_mode=WAL");
        Exec(db, "PRAGMA synchronous=NORMAL");
        // The WAL file stays (readers need it) but shrinks back after checkpoints.
        Exec(db, "PRAGMA journal_size_limit=1048576");
        Exec(db, kWriterCache);
    }
    // Stores laid out before the enumeration indexes get them from their first writer;
    // readers of such a store enumerate more slowly, with the same answers.
    if (canWrite && layout.orderIndexes != 2) Exec(db, kOrderIndexes);
    Exec(db, "PRAGMA foreign_keys=ON");
}

std::string CheckIntegrity(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    std::string answer;
    int rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check(1)", -1, &stmt, nullptr);
    if (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
        answer = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    } else {
        answer = sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
    if (answer == "ok") {
        rc = sqlite3_prepare_v2(db, "PRAGMA foreign_key_check", -1, &stmt, nullptr);
        if (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) answer = "dangling key reference";
        sqlite3_finalize(stmt);
    }
    return answer;
}

}  // namespace orvel::platform::store
