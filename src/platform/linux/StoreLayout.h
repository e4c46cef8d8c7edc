#pragma once

// The tables of the registry store: what a file holds, laying out a new store,
// bringing an older one up to date, and SQLite's check of the whole file.

#include <sqlite3.h>

#include <string>

namespace orvel::platform::store {

inline constexpr int kApplicationId = 0x4F52564C;  // "ORVL" in the file header
inline constexpr int kLayoutVersion = 1;
inline constexpr sqlite3_int64 kMachineRootId = 1;

// What the file holds, read before anything could write.
struct Layout {
    int objects = 0;
    int tables = 0;
    int applicationId = 0;
    int version = 0;
    int orderIndexes = 0;

    // An empty database (new, or its creation was cut short): to be laid out.
    bool Empty() const {
        return objects == 0 && (applicationId == 0 || applicationId == kApplicationId);
    }
    // Tables, id and version of a registry store.
    bool IsStore() const {
        return applicationId == kApplicationId && version == kLayoutVersion && tables == 2;
    }
};

// SQLITE_OK and the layout, or the failure.
int ReadLayout(sqlite3* db, Layout* layout);

// Lays out a new store in WAL mode (memory: a private store without a file).
// SQLITE_OK, or the failure with error saying why.
int LayOut(sqlite3* db, bool memory, std::string* error);

// The connection's settings; a writer adds what an older layout lacks.
void Configure(sqlite3* db, const Layout& layout, bool canWrite, bool memory);

// "ok", or SQLite's first complaint about the file.
std::string CheckIntegrity(sqlite3* db);

}  // namespace orvel::platform::store
