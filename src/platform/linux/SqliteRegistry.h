#pragma once

// The registry kept in one SQLite file. The file holds HKEY_LOCAL_MACHINE;
// HKEY_CLASSES_ROOT is the view of HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
// HKEY_CURRENT_USER has no keys here: opening under it answers 2, writing 5.
//
// Key paths and value names are compared without regard to ASCII letter case
// and keep the spelling they were created with. A value is its type code and
// its bytes exactly as written.
//
// Writing is the file's right: a process that cannot write the store file (or
// its folder) opens keys for reading only; asking for write access or creating
// answers 5. A store file that is not a healthy registry store is never
// written: StoreProblem() names it and every operation fails.

#include <memory>
#include <mutex>
#include <string>

#include "platform/InstallRoot.h"
#include "platform/Registry.h"

namespace orvel::platform {

// Results the store adds to those of Registry.h.
inline constexpr LONG ERROR_REGISTRY_IO_FAILED =
    1016;                                        // the store file could not be read or written
inline constexpr LONG ERROR_KEY_DELETED = 1018;  // the key of this handle was deleted

// ReadOnly: the store is only read, as by the commands that only look. Such an
// open never creates the file or its folder and never writes, even where the
// process may.
enum class StoreAccess { ReadWrite, ReadOnly };

class SqliteRegistry final : public Registry {
  public:
    // storePath ":memory:" keeps a private store in memory (tests). A missing
    // file is created with its folder when this process may write there and
    // access is ReadWrite.
    explicit SqliteRegistry(const std::string& storePath,
                            StoreAccess access = StoreAccess::ReadWrite);
    ~SqliteRegistry() override;
    SqliteRegistry(const SqliteRegistry&) = delete;
    SqliteRegistry& operator=(const SqliteRegistry&) = delete;

    LONG RegOpenKeyExA(HKEY key, std::string_view subKey, DWORD options, DWORD samDesired,
                       HKEY* result) override;
    LONG RegCreateKeyA(HKEY key, std::string_view subKey, HKEY* result) override;
    LONG RegQueryValueExA(HKEY key, std::string_view valueName, DWORD* type, std::uint8_t* data,
                          DWORD* dataSize) override;
    LONG RegSetValueExA(HKEY key, std::string_view valueName, DWORD type, const std::uint8_t* data,
                        DWORD dataSize) override;
    LONG RegDeleteValueA(HKEY key, std::string_view valueName) override;
    LONG RegDeleteKeyA(HKEY key, std::string_view subKey) override;
    LONG RegCloseKey(HKEY key) override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) override;
    LONG RegEnumValueA(HKEY key, DWORD index, std::string* valueName, DWORD* type,
                       std::string* data) override;
    // One transaction; inside it each multi-statement write is a savepoint.
    // Other writers wait for it as for any write (up to 5 s, then 170).
    LONG RegApplyBatch(const std::function<LONG()>& work) override;
    // An indexed look-up of the name.
    LONG RegFindValueA(HKEY key, std::string_view valueName, std::string* storedName, DWORD* type,
                       std::string* data) override;
    // By the keys' ids in one write: whole or not at all, at any depth, sub-keys
    // with an empty name included. The content of a protected key is not
    // deleted this way either (5).
    LONG RegDeleteTreeA(HKEY key, std::string_view subKey) override;
    std::string StoreProblem() const override;

    // Whether this process may write the store (decided when it was opened).
    bool CanWrite() const;
    // Whether the store file was there (or was made) when it was opened.
    bool Exists() const;
    const std::string& Path() const;
    // SQLite's own consistency check of the whole file: "ok", or its first complaint.
    std::string CheckIntegrity();

  private:
    class Store;
    // Takes the store's lock (a batch holds it throughout).
    std::unique_lock<std::recursive_mutex> Enter() const;
    std::unique_ptr<Store> store_;
};

// The registry store of an installation; every program opens it this way.
std::unique_ptr<Registry> OpenRegistryStore(const InstallRoot& root,
                                            StoreAccess access = StoreAccess::ReadWrite);

}  // namespace orvel::platform
