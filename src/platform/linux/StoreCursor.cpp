#include "platform/linux/StoreCursor.h"

namespace orvel::platform::store {

int EnumCursor::Step(Statements& sql, const EnumQueries& queries, sqlite3_int64 key, DWORD index,
                     sqlite3_stmt** row) {
    // Index 0 and the index after the last one answered step on from a row;
    // any other index is counted out from the first.
    const bool onward = index == 0 || (valid_ && key_ == key && index_ + 1 == index);
    sqlite3_stmt* stmt = sql.Use(onward ? queries.next : queries.nth);
    sqlite3_bind_int64(stmt, 1, key);
    sqlite3_bind_int64(stmt, 2, onward ? (index == 0 ? 0 : lastRow_) : index);
    const int rc = sqlite3_step(stmt);
    valid_ = rc == SQLITE_ROW;
    if (valid_) {
        key_ = key;
        index_ = index;
        lastRow_ = sqlite3_column_int64(stmt, 0);
    }
    *row = stmt;
    return rc;
}

}  // namespace orvel::platform::store
