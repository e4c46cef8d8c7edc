#pragma once

// The SQL of the registry store: every statement prepared once per connection
// and reset before each use.

#include <sqlite3.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace orvel::platform::store {

enum class Sql : std::size_t {
    FindChild,
    KeyExists,
    InsertKey,
    HasChild,
    DeleteKey,
    DeleteTree,
    QueryValue,
    SetValue,
    DeleteValue,
    DeleteValues,
    EnumKey,
    EnumKeyAfter,
    EnumValue,
    EnumValueAfter,
    Begin,
    BeginRead,
    Commit,
    Rollback,
    Savepoint,
    Release,
    RollbackTo,
    Count
};

class Statements {
  public:
    Statements() = default;
    Statements(const Statements&) = delete;
    Statements& operator=(const Statements&) = delete;
    ~Statements() { Clear(); }

    // Prepares every statement on db; SQLITE_OK, or the first failure.
    int Prepare(sqlite3* db);
    // Finalizes every statement (before their connection is closed).
    void Clear();

    // The statement, reset and without bindings, ready to bind and step.
    sqlite3_stmt* Use(Sql which);
    // Resets the statement after use, so that it holds no read lock.
    void Done(Sql which) { sqlite3_reset(statements_[Index(which)]); }
    // Runs a statement without results; SQLITE_OK when it ran to its end.
    int Exec(Sql which);

  private:
    static std::size_t Index(Sql which) { return static_cast<std::size_t>(which); }
    std::array<sqlite3_stmt*, static_cast<std::size_t>(Sql::Count)> statements_{};
};

// Binds text that outlives the step.
inline void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// A text or blob column as bytes.
inline std::string ColumnBytes(sqlite3_stmt* stmt, int column) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, column));
    const auto length = static_cast<std::size_t>(sqlite3_column_bytes(stmt, column));
    return length == 0 ? std::string() : std::string(bytes, length);
}

}  // namespace orvel::platform::store
