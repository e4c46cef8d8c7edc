#pragma once

// The keys of the registry store as a process holds them: the handle table,
// the cache of paths found before, and finding (or making) a key by path.

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/Registry.h"
#include "platform/linux/StoreCursor.h"
#include "platform/linux/StoreStatements.h"
#include "platform/linux/StoreTransactions.h"

namespace orvel::platform::store {

// An open key. A key found through the path cache is taken on trust: the
// first operation that finds nothing checks it and, when another process
// deleted and made the key again, finds it anew from base and path.
// Names hold no NUL and are at most maxLength bytes long.
bool ValidName(std::string_view name, std::size_t maxLength);

struct Handle {
    sqlite3_int64 id = 0;
    bool write = false;
    bool checked = false;
    sqlite3_int64 base = 0;
    std::string path;
    std::string cacheKey;
    int depth = 0;  // levels below HKEY_LOCAL_MACHINE
    EnumCursor keys;
    EnumCursor values;
};

class KeyTable {
  public:
    KeyTable(Statements& sql, Transactions& transactions);

    // The open key a handle stands for (the roots included); 6 for an unknown
    // handle, 2 under HKEY_CURRENT_USER. The roots are open for writing: the
    // store's own right to write decides.
    LONG KeyOf(HKEY key, Handle** handle);
    // Same, checked against the store.
    LONG CheckedKeyOf(HKEY key, Handle** handle);
    // Confirms the handle's key still exists, or finds it again by its path.
    LONG Refresh(Handle& handle);

    // Finds (and with create makes, in one write) the key subKey below a
    // handle; with trustCache a cached path answers without asking the store.
    LONG Resolve(HKEY key, std::string_view subKey, bool create, bool trustCache, Handle* found);

    // The keys never deleted: the root, SOFTWARE, Classes and its CLSID and AppID.
    bool IsProtected(sqlite3_int64 id);

    HKEY Add(Handle handle);
    LONG Close(HKEY key);

    // Keys were deleted: paths found before may name other keys now.
    void ForgetPaths();
    // A batch was undone: nothing found inside it may be trusted.
    void ForgetFoundKeys();

  private:
    LONG Walk(sqlite3_int64 base, std::string_view path, bool create, sqlite3_int64* id);
    LONG FindChild(sqlite3_int64 parent, std::string_view name, sqlite3_int64* id);
    LONG KeyExists(sqlite3_int64 id);

    Statements& sql_;
    Transactions& transactions_;
    std::unordered_map<HKEY, Handle> handles_;
    HKEY nextHandle_;
    Handle machineRoot_;
    Handle classesRoot_;
    // Folded "base\path" -> key id of keys found before.
    std::unordered_map<std::string, sqlite3_int64> pathCache_;
};

}  // namespace orvel::platform::store
