#pragma once

// Windows private profile ("INI") files, read and written key by key with the
// semantics of GetPrivateProfileStringA and WritePrivateProfileStringA.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvel::platform {

class ProfileFile {
  public:
    virtual ~ProfileFile() = default;

    // Copies the value (or the default; nullopt stands for NULL) into buffer,
    // cut to size-1 characters plus a NUL; returns the characters copied.
    virtual std::uint32_t GetPrivateProfileStringA(std::string_view section, std::string_view key,
                                                   std::optional<std::string_view> defaultValue,
                                                   char* buffer, std::uint32_t size,
                                                   const std::string& path) = 0;

    // value nullopt deletes the key; key nullopt deletes the whole section.
    // Returns false when nothing was written: a value holding CR, LF or NUL, a
    // name no read could find again (a section holding ']', a key starting
    // with ';' or '[' or holding '='), or text a UTF-16 file cannot hold is
    // refused, and a file or folder that cannot be written fails. A file of
    // this user's is replaced atomically (mode and group kept); another
    // user's, or one in a folder this user may not write, is rewritten in
    // place under its lock. A failure leaves it as it was.
    virtual bool WritePrivateProfileStringA(std::string_view section,
                                            std::optional<std::string_view> key,
                                            std::optional<std::string_view> value,
                                            const std::string& path) = 0;

    // Writes to path between BeginBatch and EndBatch may be gathered and put
    // into the file as one replacement at EndBatch (one file sync instead of
    // one per key); reads in between see them. EndBatch returns false when
    // that replacement fails. Without batching every write goes out at once
    // and every read reads the file again.
    virtual void BeginBatch(const std::string& path) { (void)path; }
    virtual bool EndBatch() { return true; }
};

}  // namespace orvel::platform
