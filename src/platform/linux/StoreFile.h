#pragma once

// The registry store's file and its SQLite connection: which file may be
// opened (and how), making a new store, and the store's health.
//
// A process that cannot write the file or its folder reads it through a
// read-only connection. When the store's WAL files are missing (another
// program closed the store and removed them, or registry.db was restored
// alone) and cannot be made, such a reader reads the file by itself, which
// then holds every committed write, and goes over to the WAL files as soon as
// a writer has made them again.

#include <sqlite3.h>

#include <string>

#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/StoreLayout.h"
#include "platform/linux/StoreStatements.h"

namespace orvel::platform::store {

enum class StoreState { Healthy, Absent, Damaged };

class StoreFile {
  public:
    // Opens (and, for a writer that may, makes) the store and prepares sql on it.
    StoreFile(std::string path, StoreAccess access, Statements& sql);
    ~StoreFile() { Close(); }
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;

    sqlite3* db() const { return db_; }
    StoreState state() const { return state_; }
    bool canWrite() const { return canWrite_; }
    bool exists() const { return exists_; }
    const std::string& path() const { return path_; }
    // Empty while the store is usable; else "The registry store FILE cannot be used: WHY".
    const std::string& problem() const { return problem_; }

    // The store cannot be used any more: every operation fails from now on.
    void Fail(const std::string& what);

    // A reader of the file alone: connects through the WAL files once a writer
    // has made them again. True when sql was prepared on a new connection.
    bool FollowWriters();

    // SQLite's check of the whole file: "ok", or its first complaint.
    std::string Integrity();

  private:
    void Open();
    bool CheckFile();
    bool CreateFile();
    bool HasDatabaseHeader(off_t size);
    int Connect(bool fileAlone);
    int ReadLayoutOrFileAlone(Layout* layout);
    bool MakeStore();
    bool WalFilesMissing() const;
    void RemoveEmptyFile();
    void Close();

    std::string path_;
    Statements& sql_;
    bool readOnly_ = false;
    bool memory_ = false;
    bool exists_ = true;
    bool created_ = false;    // this open made the file
    bool fileAlone_ = false;  // read without WAL files
    std::string folder_;
    sqlite3* db_ = nullptr;
    StoreState state_ = StoreState::Absent;
    bool canWrite_ = false;
    std::string problem_;
};

}  // namespace orvel::platform::store
