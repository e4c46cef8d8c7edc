#pragma once

// Windows private profile files on Linux: the file handling (locks, atomic
// replacement, batches). The text rules are in IniProfileFormat.h.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProfileFile.h"

namespace orvel::platform {

class IniProfileFile final : public ProfileFile {
  public:
    std::uint32_t GetPrivateProfileStringA(std::string_view section, std::string_view key,
                                           std::optional<std::string_view> defaultValue,
                                           char* buffer, std::uint32_t size,
                                           const std::string& path) override;

    bool WritePrivateProfileStringA(std::string_view section, std::optional<std::string_view> key,
                                    std::optional<std::string_view> value,
                                    const std::string& path) override;

    void BeginBatch(const std::string& path) override;
    bool EndBatch() override;

    // One write as the caller gave it.
    struct Edit {
        std::string section;
        std::optional<std::string> key;
        std::optional<std::string> value;
    };

    // The file a write to path changes, with its state before the write and
    // the writes to put into it. The writes go onto the file as it is when
    // they are put in, under its lock: a file that is ours is replaced (mode
    // and group kept), any other is rewritten in place.
    struct Target {
        std::string path;  // links followed
        std::string text;  // as read, with the writes so far: what reads see
        bool exists = false;
        bool writable = false;  // readable and writable, or a new file in a writable folder
        unsigned mode = 0;
        unsigned owner = 0;
        unsigned group = 0;
        bool dirty = false;
        std::vector<Edit> edits;
    };

  private:
    std::optional<Target> batch_;
};

}  // namespace orvel::platform
