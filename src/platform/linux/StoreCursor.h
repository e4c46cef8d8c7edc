#pragma once

// Where an enumeration of a handle stopped, so that the next index continues
// from there with one indexed step instead of counting from the first row.

#include <sqlite3.h>

#include "platform/Registry.h"
#include "platform/linux/StoreStatements.h"

namespace orvel::platform::store {

// The two statements of one kind of enumeration (sub-keys or values): the row
// after a row id, and the index-th row. Column 0 of both is the row id.
struct EnumQueries {
    Sql next;
    Sql nth;
};

class EnumCursor {
  public:
    // Steps to the index-th row below key: SQLITE_ROW with the statement on
    // the row (reset it after reading), SQLITE_DONE past the last, or the failure.
    int Step(Statements& sql, const EnumQueries& queries, sqlite3_int64 key, DWORD index,
             sqlite3_stmt** row);
    // The rows may have changed: count from the first again.
    void Forget() { valid_ = false; }

  private:
    bool valid_ = false;
    sqlite3_int64 key_ = 0;
    DWORD index_ = 0;
    sqlite3_int64 lastRow_ = 0;
};

}  // namespace orvel::platform::store
